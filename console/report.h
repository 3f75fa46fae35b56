// What the console program tells while the core runs. It sees the run only
// through the core's events (gEvents, kept by the recorder in the caller's
// record), its boxes and texts (gUi) and the loader's line (gOutput), and
// hands each to the writer of the output form chosen (lines for a person,
// or JSON lines) and to the run log's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/options.h"
#include "runlog/outcome.h"
#include "runlog/run_record.h"
#include "runlog/run_result.h"
#include "runlog/run_writer.h"

struct ReportSettings {
    bool json;
    ConsoleVerbosity verbosity;
    ConsoleAnswerMode answers;  // Unset: ask on standard input if it is a terminal, else No
    bool stdinIsTerminal;
    bool stdoutIsTerminal;
    bool log;  // --log: every event as a JSON line in the run log
};

// Installs the report's gUi, gEvents and gOutput and starts its clock; the
// core's events are kept in `run`, which the caller reads when a run ends.
void ReportInstall(const ReportSettings& settings, RunRecord* run);
uint32_t ReportElapsedMs();

// One packet sent to the device or one reply read from it (-v).
void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length);
// A stop request that waits for the programming to finish.
void ReportStopDeferred(uint32_t pagesLeft);
// The final result: the JSON result object, or the last line.
void ReportRunResult(ConsoleCommand command, const RunResult& result);
// Another attempt (--retries) starts after `after`.
void ReportAttempt(uint32_t attempt, uint32_t attempts, const RunResult& after);
// What the result and the log say beside the events.
void ReportSetContext(const RunContext& context);
// The run log's first line of a run, with the command line's options.
void ReportRunStarted(int argc, char** argv);
// An error of the program itself (e.g. the USB library is missing): one line
// on standard error, and in JSON mode the result object too. Returns the
// outcome's exit code.
int ReportFailure(ConsoleCommand command, Outcome outcome, const std::string& message);
// A device the program looked at before a run, told as the core tells a
// device found, without a place in the run's record.
void ReportSurveyedDevice(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length);
// --wait-device: the program waits for device `device` (ANY_DEVICE: any
// Lumaris device), `seconds` at most (0: without end).
void ReportWaitingForDevice(uint32_t device, uint32_t seconds);
// A plain line of a command's output (human mode), or a JSON object made by
// the caller.
void ReportLine(const std::string& line);
