// What the console program tells while the core runs, and what it decides
// at the end: it sees the run only through the core's events (gEvents), its
// boxes and texts (gUi) and the loader's line (gOutput), and keeps in a
// RunRecord what they said.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "console_options.h"
#include "console_result.h"
#include "platform/update_events.h"

struct ReportSettings {
    bool json;
    ConsoleVerbosity verbosity;
    ConsoleAnswerMode answers;  // Unset: ask on standard input if it is a terminal, else No
    bool stdinIsTerminal;
    bool stdoutIsTerminal;
};

// Installs the report's gUi, gEvents and gOutput and starts its clock.
void ReportInstall(const ReportSettings& settings);
const RunRecord& ReportedRun();
uint32_t ReportElapsedMs();

// One packet sent to the device or one reply read from it (-v).
void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length);
// The final result: the JSON result object, or the last line.
void ReportResult(ConsoleCommand command, const ConsoleResult& result);
// An error of the program itself (e.g. the USB library is missing): one line
// on standard error, and in JSON mode the result object too.
void ReportFailure(ConsoleCommand command, const char* outcome, const std::string& message);
// A plain line of a command's output (human mode), or a JSON object made by
// the caller.
void ReportLine(const std::string& line);
