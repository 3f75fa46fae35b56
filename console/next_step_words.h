// The steps of runlog/next_step.h in the console program's words, for its
// own runs and, read back from a support log, for the window program's.
#pragma once

#include <string>

#include "runlog/next_step.h"
#include "runlog/run_result.h"

// `windowProgram`: words for a user of the window program, which has no
// options to name.
std::string NextStepWords(NextStep step, bool windowProgram);

// The console program's words in a result's sentence: its options.
extern const ResultWords CONSOLE_RESULT_WORDS;
