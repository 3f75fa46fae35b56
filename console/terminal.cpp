#include "console/terminal.h"

#include "console/output_errors.h"

void Terminal::Configure(std::FILE* out, bool smart) {
    out_ = out;
    smart_ = smart;
    progressOpen_ = false;
}

void Terminal::PrintLine(const std::string& line) {
    EndProgress();
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    FlushChecked(out_);
}

void Terminal::PrintProgress(const std::string& text) {
    if (!smart_) return PrintLine(text);
    std::fputc('\r', out_);
    std::fputs(text.c_str(), out_);
    FlushChecked(out_);
    progressOpen_ = true;
}

void Terminal::EndProgress() {
    if (!progressOpen_) return;
    progressOpen_ = false;
    std::fputc('\n', out_);
    FlushChecked(out_);
}

Terminal& StdoutTerminal() {
    static Terminal terminal;
    return terminal;
}
