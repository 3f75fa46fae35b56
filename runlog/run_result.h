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

// How a front end names, in a result's sentence, the steps that depend on
// how it is used: the console program names its options, the window program
// its boxes. The record layer itself names neither.
struct ResultWords {
    // After a fixed restart wait that the device outlasted: how to wait
    // longer (followed by ", which waits up to N ms ...").
    const char* waitLonger;
    // How to choose device N: followed by its index.
    const char* chooseDevice;
    // --check, same version installed: how an update would skip it.
    const char* skipCurrent;
    // What installs a declined image: "with --yes", "answered Yes".
    const char* yesInstalls;
};

// The plain words, no option named: the window program's.
extern const ResultWords PLAIN_RESULT_WORDS;

// What a run was asked to do and what its program knows of it beside the
// core's events: the console program's options and stop requests, or the
// window program's own.
struct RunRequest {
    const ResultWords* words = &PLAIN_RESULT_WORDS;
    bool skipCurrent = false;
    uint32_t chosenDevice = 0xFFFFFFFF;  // ANY_DEVICE: none chosen
    bool fixedRestartWait = false;       // --restart-wait MS rather than auto
    uint32_t restartWaitMs = 0;          // that MS
    bool stopRequested = false;          // a stop request came at any time
};

// The result of a run of `command` (Update, Check or List) from what the
// core reported.
RunResult DecideResult(RunCommand command, const RunRecord& run, const RunRequest& asked = {});
