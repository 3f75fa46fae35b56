// The console platform of the Linux front end: every box and every text is
// printed as one line, questions are answered from a flag or from standard
// input, the clock is the process's steady clock.
#pragma once

#include <cstdio>

enum class ConsoleAnswers { AskStdin, Yes, No };

void ConsolePlatformInstall(ConsoleAnswers answers, std::FILE* out);
