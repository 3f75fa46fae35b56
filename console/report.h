// What the console program tells while the core runs. It sees the run only
// through the core's events (gEvents, kept by the recorder), its boxes and
// texts (gUi) and the loader's line (gOutput), and hands each to the writer
// of the output form chosen: lines for a person, or JSON lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/options.h"
#include "console/result.h"
#include "console/run_record.h"
#include "console/writer.h"

struct ReportSettings {
    bool json;
    ConsoleVerbosity verbosity;
    ConsoleAnswerMode answers;  // Unset: ask on standard input if it is a terminal, else No
    bool stdinIsTerminal;
    bool stdoutIsTerminal;
    bool log;  // --log: every event as a JSON line in the run log
};

// Installs the report's gUi, gEvents and gOutput and starts its clock.
void ReportInstall(const ReportSettings& settings);
const ReportSettings& ReportSettingsInUse();
const RunRecord& ReportedRun();
uint32_t ReportElapsedMs();

// One packet sent to the device or one reply read from it (-v).
void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length);
// A stop request that waits for the programming to finish.
void ReportStopDeferred(uint32_t pagesLeft);
// The final result: the JSON result object, or the last line.
void ReportResult(ConsoleCommand command, const ConsoleResult& result);
// Another attempt (--retries) starts after `after`.
void ReportAttempt(uint32_t attempt, uint32_t attempts, const ConsoleResult& after);
// What the result and the log say beside the events.
void ReportSetContext(const RunContext& context);
const RunContext& ReportContext();
// An error of the program itself (e.g. the USB library is missing): one line
// on standard error, and in JSON mode the result object too. Returns the
// outcome's exit code.
int ReportFailure(ConsoleCommand command, Outcome outcome, const std::string& message);
// A plain line of a command's output (human mode), or a JSON object made by
// the caller.
void ReportLine(const std::string& line);
