#include "console/terminal.h"

#include "console/system/console_output.h"

void Terminal::Configure(bool smart) {
    smart_ = smart;
    progressOpen_ = false;
}

void Terminal::PrintLine(const std::string& line, bool progress) {
    EndProgress();
    ConsoleOutputPut(ConsoleStream::Out, line + "\n", progress);
}

void Terminal::PrintProgress(const std::string& text) {
    if (!smart_) {
        EndProgress();
        ConsoleOutputPut(ConsoleStream::Out, text + "\n", true);
        return;
    }
    // Only a progress line that was shown needs its end.
    if (ConsoleOutputPut(ConsoleStream::Out, "\r" + text, true)) progressOpen_ = true;
}

void Terminal::EndProgress() {
    if (!progressOpen_) return;
    progressOpen_ = false;
    ConsoleOutputPut(ConsoleStream::Out, "\n", false);
}

Terminal& StdoutTerminal() {
    static Terminal terminal;
    return terminal;
}
