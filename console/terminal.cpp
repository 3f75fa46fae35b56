#include "console/terminal.h"

#include "console/output_errors.h"
#include "platform/console_platform.h"

void Terminal::Configure(std::FILE* out, bool smart) {
    out_ = out;
    smart_ = smart;
    progressOpen_ = false;
}

void Terminal::PrintLine(const std::string& line) {
    EndProgress();
    ConsoleWrite(out_, (line + '\n').c_str());
    FlushChecked(out_);
}

void Terminal::PrintProgress(const std::string& text) {
    if (!smart_) return PrintLine(text);
    std::fputc('\r', out_);
    ConsoleWrite(out_, text.c_str());
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
