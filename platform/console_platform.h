// The console platform: the clock and the lock of the console program on
// the operating system it runs on (POSIX or Windows), and, on Linux, a
// complete platform that prints every box and text as one line (the
// benchmarks use it).
#pragma once

#include <cstdio>

// Sets gClock (milliseconds of a steady clock, a real sleep) and gUsbLock
// (a real lock). Leaves gUi as it is: the front end puts its own there.
void ConsoleSystemInstall();

// Whether `file` is a terminal.
bool ConsoleIsTerminal(std::FILE* file);

enum class ConsoleAnswers { AskStdin, Yes, No };

// ConsoleSystemInstall, and a gUi that prints every box and every text as
// one line to `out` and answers questions from `answers`. Not on Windows.
void ConsolePlatformInstall(ConsoleAnswers answers, std::FILE* out);
