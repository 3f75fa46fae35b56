// Keeps what the core's events say in a RunRecord, and passes each event on
// to the writers in use (the screen's, and the log's).
#pragma once

#include <cstddef>

#include "console/run_record.h"
#include "console/writer.h"

// Puts the recording table in gEvents with a fresh record; every event goes
// on to each of the `count` writers once kept.
void RecorderInstall(const ConsoleWriter* const* writers, size_t count);
// A fresh record for another attempt; the writers stay, and so does what
// the first attempt identified.
void RecorderReset();
const RunRecord& RecordedRun();

// A box the core showed. Identical boxes in a row (a wait whose every poll
// failed) are written once, with their count, when something else comes.
void RecorderBox(const BoxShown& box);
// Writes a held box now.
void FlushRepeatedBox();

size_t WriterCount();
const ConsoleWriter& WriterAt(size_t index);

// Calls `call` with each writer in use, after a held box.
template <typename Call>
void ForEachWriter(Call call) {
    FlushRepeatedBox();
    for (size_t i = 0; i < WriterCount(); ++i) call(WriterAt(i));
}
