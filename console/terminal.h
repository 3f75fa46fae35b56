// Standard output for a person: whole lines, and one progress line that is
// rewritten in place on a terminal. Later output never runs into an open
// progress line: whoever prints asks the terminal, and it ends the line first.
// Everything goes through the output's own thread (console/system/console_output.h):
// a progress line may be dropped there, a whole line never is.
#pragma once

#include <string>

class Terminal {
   public:
    // `smart`: standard output is a terminal, so a progress line can be
    // rewritten.
    void Configure(bool smart);
    bool smart() const { return smart_; }

    // Prints `line` on a line of its own; a `progress` line (a packet) may be
    // left out when the output is late.
    void PrintLine(const std::string& line, bool progress = false);
    // Shows `text` as the progress line: in place on a smart terminal, else
    // as a line of its own.
    void PrintProgress(const std::string& text);
    // Ends an open progress line, so that the next text (on any stream)
    // starts at the left margin.
    void EndProgress();

   private:
    bool smart_ = false;
    bool progressOpen_ = false;
};

// The program's one terminal, on standard output.
Terminal& StdoutTerminal();
