// Standard output for a person: whole lines, and one progress line that is
// rewritten in place on a terminal. Later output never runs into an open
// progress line: whoever prints asks the terminal, and it ends the line first.
#pragma once

#include <cstdio>
#include <string>

class Terminal {
   public:
    // `smart`: `out` is a terminal, so a progress line can be rewritten.
    void Configure(std::FILE* out, bool smart);
    bool smart() const { return smart_; }

    // Prints `line` on a line of its own.
    void PrintLine(const std::string& line);
    // Shows `text` as the progress line: in place on a smart terminal, else
    // as a line of its own.
    void PrintProgress(const std::string& text);
    // Ends an open progress line, so that the next text (on any stream)
    // starts at the left margin.
    void EndProgress();

   private:
    std::FILE* out_ = stdout;
    bool smart_ = false;
    bool progressOpen_ = false;
};

// The program's one terminal, on standard output.
Terminal& StdoutTerminal();
