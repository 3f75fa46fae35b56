// The run in lines for a person, on standard output: what the core does in
// words, a progress line (the terminal's), and the result's last line.
// Quiet mode keeps failures (on standard error) and the result; -v adds
// every packet, and the window program's boxes and texts as they are.
#pragma once

#include <cstdint>
#include <string>

#include "console/options.h"
#include "runlog/run_writer.h"

void HumanWriterStart(const WriterInputs& inputs, ConsoleVerbosity verbosity);

// What a stop request while flash writing is unlocked does, in words.
std::string StopDeferredWords(uint32_t pagesLeft);

extern const RunWriter HUMAN_WRITER;
