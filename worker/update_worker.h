// The update worker: one whole firmware update, start to end, on the calling
// thread. The platform seams and the USB library table must be set first.
#pragma once

#include <cstdint>

// Runs the update. Returns the worker thread's exit code: 1 when the first
// discovery fails, 0 otherwise.
uint32_t UpdateWorker();

// Only one worker runs at a time. A front end claims the slot before it
// starts a worker and releases it when the worker has ended; a command that
// cannot claim it is ignored.
bool ClaimWorkerSlot();
void ReleaseWorkerSlot();
