// --wait-device: a station's run starts before its unit is plugged in. The
// program looks at the bus until a Lumaris device is attached (or the device
// --device names), then goes on as usual; it gives up after the time given,
// and a stop request ends the wait.
#pragma once

#include <vector>

#include "console/device_survey.h"
#include "console/options.h"

// Waits as options.waitDevice asks, leaving the bus seen last in `bus`.
// True when the run goes on; false when it ended (no device in time, a stop
// request, no device count), with its result reported and its exit code in
// `exitCode`.
bool AwaitDevice(const ConsoleOptions& options, std::vector<SeenDevice>* bus, int* exitCode);
