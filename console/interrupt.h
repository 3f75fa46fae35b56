// What a stop request (Ctrl+C, Ctrl+Break, SIGINT, SIGTERM, SIGHUP, the
// console window's close) does to a run. Before flash writing is unlocked
// the run stops after the current exchange, and a device that was switched
// into its bootloader is sent back to its valid application. Once flash
// writing is unlocked a stop would leave the device without firmware: the
// first request is answered with a line saying so and the update goes on; a
// second one (or the console window's close) stops after the current
// exchange.
#pragma once

#include "runlog/run_record.h"

// Counts stop requests from now on and puts the policy above in gStop,
// which reads in `run` (the recorder's) whether flash writing is unlocked.
void InterruptInstall(const RunRecord& run);
// Whether any stop request came.
bool InterruptRequested();
