// The run as one JSON object per line: every event of the core, and a
// `result` line at the end. The console program writes them to standard
// output (--json), to its run log (--log), or both; the window program to
// its support log. The same writer serves both, so that a log reads alike
// whichever program wrote it.
#pragma once

#include <string>

#include "runlog/run_writer.h"

// Takes one whole line (ending with a line end). `progress` marks a line
// the screen may leave out when it is not read in time; a log keeps every
// line.
using JsonLinePut = void (*)(const std::string& line, bool progress);

struct JsonWriterSetup {
    WriterInputs inputs;
    JsonLinePut screen = nullptr;  // or nullptr
    JsonLinePut log = nullptr;     // or nullptr; run_started goes here only
    // The window program's raw boxes and texts and the loader's line (`box`,
    // `text`, `loader_output`): only when asked for (-v).
    bool raw = false;
};

void JsonWriterStart(const JsonWriterSetup& setup);
// The first line of a run in the log: UTC time, the program and its
// version, the image's version and SHA-256, the command line's options (the
// `count` texts at `options`; none for the window program) and the label.
void JsonWriteRunStarted(const char* const* options, int count);

extern const RunWriter JSON_WRITER;
