// The update worker: one whole firmware update, start to end, on the calling
// thread. The platform seams and the USB library table must be set first.
#pragma once

#include <cstdint>

struct UpdateJob;

// The wait between the two discoveries: time for a device that was told to
// restart into its bootloader to come back.
constexpr uint32_t RESTART_WAIT_MS = 2000;
// The longest a polled wait looks for the bootloader.
constexpr uint32_t RESTART_POLL_LIMIT_MS = 10000;

// How the worker waits between the two discoveries: `milliseconds` of sleep,
// or, when `untilBootloader`, a silent look at the bus every few
// milliseconds until the bootloader appears, RESTART_POLL_LIMIT_MS at most.
// A polled wait that ends without the bootloader ends the run as a failed
// discovery. With `onlyAfterSwitch` there is no wait when the first discovery
// found the device already in its bootloader.
struct RestartWait {
    uint32_t milliseconds;
    bool untilBootloader;
    bool onlyAfterSwitch;
};
constexpr RestartWait FIXED_RESTART_WAIT = {RESTART_WAIT_MS, false, false};

using ImageStep = void (*)(UpdateJob& job);
using ProgramStep = void (*)(UpdateJob& job);

// The steps a worker run takes where runs may differ.
struct WorkerSteps {
    ImageStep prepareImage;   // PrepareAndValidateImage in the program
    ProgramStep program;      // VersionCheckAndProgram in the program
    RestartWait restartWait;  // FIXED_RESTART_WAIT in the window program
    uint32_t device;          // the device to act on; ANY_DEVICE (the first) in the window program
};

// The update of the window program. Returns the worker thread's exit code:
// 1 when the first discovery fails, 0 otherwise.
uint32_t UpdateWorker();

// The same update with another image step in place of
// PrepareAndValidateImage (the benchmarks run images other than the
// embedded one through it).
uint32_t UpdateWorkerWith(ImageStep prepareImage);

// The same sequence with the given steps.
uint32_t RunWorker(const WorkerSteps& steps);

// The update's steps with the given restart wait, on the first device.
WorkerSteps UpdateSteps(RestartWait wait);

// PrepareAndValidateImage, and when it refuses the image over a device that
// holds a valid application, the run command, so that the device runs what
// it ran before (the console program's update; the window program leaves
// the device in its bootloader).
void PrepareImageOrReturn(UpdateJob& job);

// The pre-flight check's steps: the same road up to the version check, which
// only reports what an update would do (CheckFinished); nothing is
// written to the flash. A device whose image is refused, and that holds a
// valid application, is still told to run it.
WorkerSteps CheckSteps(RestartWait wait);

// Only one worker runs at a time. A front end claims the slot before it
// starts a worker and releases it when the worker has ended; a command that
// cannot claim it is ignored.
bool ClaimWorkerSlot();
void ReleaseWorkerSlot();
