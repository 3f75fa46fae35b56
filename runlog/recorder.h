// Keeps what the core's events say in a RunRecord, and hands each event on
// to the writers in use once kept. Data goes one way: the front end's sink,
// the record, the writers; a writer reads the record, and nothing calls
// back here.
#pragma once

#include <cstddef>

#include "events/update_events.h"
#include "runlog/run_record.h"
#include "runlog/run_writer.h"

// Folds one event into `run`.
void RecordEvent(RunRecord& run, const UpdateEvent& event);

struct RecorderSetup {
    RunRecord* run;  // the record kept; its owner reads it when the run ends
    // The front end's list of writers, kept by reference (not copied): the
    // one list that its other output goes through too. It outlives the runs.
    const RunWriter* const* writers;
    size_t count;
};

// Takes the record and writers of the runs to come, and clears the record.
void RecorderInstall(const RecorderSetup& setup);
// Keeps `event` in the record, then hands it to every writer. A front end's
// sink calls it once it has added what it knows to the event.
void RecorderTake(const UpdateEvent& event);
// A fresh record for another attempt; the writers stay, and so does what
// the first attempt identified.
void RecorderReset();
