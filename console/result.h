// What the console program decides at the end of a run: the outcome, the
// exit code, the device's state and the last line, from what the core
// reported (kept in a RunRecord by the recorder).
#pragma once

#include <cstdint>
#include <string>

#include "console/options.h"
#include "console/outcome.h"
#include "console/run_record.h"

struct ConsoleResult {
    const char* outcome;      // OutcomeText
    int exitCode;             // OutcomeExitCode
    const char* deviceState;  // DeviceStateText
    std::string line;         // the last line in words
};

// The result for `outcome`, with its text and exit code from the table.
ConsoleResult MakeResult(Outcome outcome, DeviceState state, std::string line);

// The result of a run of `command` (Update, Check or List) from what the
// core reported.
ConsoleResult DecideResult(ConsoleCommand command, const RunRecord& run);
