// What a run came to, decided at its end from what the core reported (kept
// in a RunRecord by the recorder): the outcome, the exit code, the device's
// state and the last line. Both programs log it; the console program ends
// with it.
#pragma once

#include <cstdint>
#include <string>

#include "runlog/next_step.h"
#include "runlog/outcome.h"
#include "runlog/run_record.h"

// What a run does with the device.
enum class RunCommand : uint8_t { Update, Check, List };

// "update", "check" or "list".
const char* RunCommandName(RunCommand command);

struct RunResult {
    const char* outcome;      // OutcomeText
    int exitCode;             // OutcomeExitCode
    const char* deviceState;  // DeviceStateText
    std::string line;         // the last line in words
    NextStep next;            // what to do with the device now
    Outcome kind;
    DeviceState state;
};

// The result for `outcome`, with its text and exit code from the table,
// and the next step for a device that is still on the bus.
RunResult MakeResult(Outcome outcome, DeviceState state, std::string line);

// What a run was asked to do and what its program knows of it beside the
// core's events: the console program's options and stop requests, or the
// window program's own.
struct RunRequest {
    // The window program: its user answers a question in a box, and has no
    // options to name in a next step.
    bool windowProgram = false;
    bool skipCurrent = false;
    uint32_t chosenDevice = 0xFFFFFFFF;  // ANY_DEVICE: none chosen
    bool fixedRestartWait = false;       // --restart-wait MS rather than auto
    uint32_t restartWaitMs = 0;          // that MS
    bool stopRequested = false;          // a stop request came at any time
};

// The result of a run of `command` (Update, Check or List) from what the
// core reported.
RunResult DecideResult(RunCommand command, const RunRecord& run, const RunRequest& asked = {});
