// Keeps what the core's events say in a RunRecord, and passes each event on
// to the writer in use.
#pragma once

#include "console/run_record.h"
#include "console/writer.h"

// Puts the recording table in gEvents with a fresh record; every event goes
// on to `writer` once kept.
void RecorderInstall(const ConsoleWriter& writer);
const RunRecord& RecordedRun();
