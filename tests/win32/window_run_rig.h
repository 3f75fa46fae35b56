// An update run of the Windows program as Update Firmware starts it: the
// worker on a thread of its own, against the simulated device on the test
// platform's virtual clock, the main window hidden, and the test's thread
// handling the window's messages as the program's message loop does.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sim/sim_device.h"

constexpr uint8_t RIG_OLD_FILL = 0x11;

// A device in its application with an older valid application of the
// demo image's type, on a fresh test world.
SimDevice* AttachOlderDevice();

// From now on the worker stops in its restart wait until ReleaseWorker:
// the window can be looked at and sent requests in the middle of a run.
void HoldWorkers();
// Waits until a worker has stopped there (false after 10 s).
bool WorkerHeld();
void ReleaseWorker();

// Handles the thread's messages for `milliseconds`, or until the worker has
// ended (false when it has not within 10 s).
void PumpMessages(DWORD milliseconds);
bool PumpUntilWorkerEnded();

// Quit messages taken from the queue by the pumps since the last reset,
// and the exit code of the last one.
struct QuitsSeen {
    int count;
    WPARAM exitCode;
};
extern QuitsSeen gQuitsSeen;
