// Keeps what the core's events say in a RunRecord, and hands each event on
// to the writers in use once kept. Data goes one way: events, the record,
// the writers; a writer reads the record, and nothing calls back here.
#pragma once

#include <cstddef>

#include "runlog/run_record.h"
#include "runlog/run_writer.h"

struct RecorderSetup {
    RunRecord* run;  // the record kept; its owner reads it when the run ends
    const RunWriter* const* writers;
    size_t count;  // at most MAX_RUN_WRITERS
    // Called before each event is handed on (the console program writes a
    // box it held back first), or nullptr.
    void (*beforeEvent)() = nullptr;
    // The cause the record and the writers give a failed exchange, or
    // nullptr for the core's own (the console program tells a device that
    // left the bus from a failed call).
    ExchangeFailure (*causeOf)(const ExchangeFailure& failure) = nullptr;
};

constexpr size_t MAX_RUN_WRITERS = 3;

// Puts the recording table in gEvents and clears the record.
void RecorderInstall(const RecorderSetup& setup);
// A fresh record for another attempt; the writers stay, and so does what
// the first attempt identified.
void RecorderReset();
