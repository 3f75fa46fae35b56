// The update worker: one whole firmware update, start to end, on the calling
// thread. The platform seams and the USB library table must be set first.
#pragma once

#include <cstdint>

struct UpdateJob;

// The wait between the two discoveries: time for a device that was told to
// restart into its bootloader to come back.
constexpr uint32_t RESTART_WAIT_MS = 2000;

// Runs the update. Returns the worker thread's exit code: 1 when the first
// discovery fails, 0 otherwise.
uint32_t UpdateWorker();

// The same update with another image step in place of
// PrepareAndValidateImage (the benchmarks run images other than the
// embedded one through it).
using ImageStep = void (*)(UpdateJob& job);
uint32_t UpdateWorkerWith(ImageStep prepareImage);

// Only one worker runs at a time. A front end claims the slot before it
// starts a worker and releases it when the worker has ended; a command that
// cannot claim it is ignored.
bool ClaimWorkerSlot();
void ReleaseWorkerSlot();
