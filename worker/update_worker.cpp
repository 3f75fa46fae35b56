#include "worker/update_worker.h"

#include <atomic>

#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "events/update_events.h"
#include "flashing/flashing.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/seams.h"

namespace {

// The trailing blanks overwrite what is left of a longer earlier text.
constexpr wchar_t TEXT_WORKING[] = L"Working                ";
constexpr wchar_t TEXT_OK[] = L"OK           ";
constexpr wchar_t TEXT_REBOOT[] = L"REBOOT                       ";
constexpr wchar_t TEXT_ERROR[] = L"ERROR            ";

template <size_t N>
void Draw(int x, int y, const wchar_t (&text)[N]) {
    gUi.drawText(x, y, text, static_cast<int>(N - 1));
}

std::atomic<bool> gWorkerRunning{false};

// Waits for a switched device to come back; false when a polled wait ended
// without seeing it, or the watch over a chosen device saw the bus change.
bool AwaitRestart(const RestartWait& wait, UpdateJob& job) {
    if (wait.onlyAfterSwitch && !job.switchedToBootloader) return true;
    if (job.watch != RestartWatch::Off) {
        const uint32_t start = gClock.tickCount();
        const RestartWaitEnd end =
            WatchRestart(job, wait.untilBootloader ? RESTART_POLL_LIMIT_MS : wait.milliseconds, wait.untilBootloader);
        // A fixed wait that ran its course is reported at its own length.
        gEvents(RestartAwaited{end == RestartWaitEnd::Waited ? wait.milliseconds : gClock.tickCount() - start, end});
        if (!wait.untilBootloader && job.watch == RestartWatch::Away)
            gEvents(SwitchedDeviceMissing{DevicesOnBus(job.busBefore), DevicesOnBus(job.busExpected)});
        return end == RestartWaitEnd::Waited || end == RestartWaitEnd::BootloaderSeen;
    }
    if (!wait.untilBootloader) {
        gClock.sleep(wait.milliseconds);
        gEvents(RestartAwaited{wait.milliseconds, RestartWaitEnd::Waited});
        return true;
    }
    const uint32_t start = gClock.tickCount();
    const bool seen = WaitForBootloader(RESTART_POLL_LIMIT_MS, job.deviceCount);
    gEvents(
        RestartAwaited{gClock.tickCount() - start, seen ? RestartWaitEnd::BootloaderSeen : RestartWaitEnd::TimedOut});
    return seen;
}

}  // namespace

uint32_t UpdateWorker() { return RunWorker(UpdateSteps(FIXED_RESTART_WAIT)); }

uint32_t UpdateWorkerWith(ImageStep prepareImage) {
    WorkerSteps steps = UpdateSteps(FIXED_RESTART_WAIT);
    steps.prepareImage = prepareImage;
    return RunWorker(steps);
}

WorkerSteps UpdateSteps(RestartWait wait) {
    return WorkerSteps{PrepareAndValidateImage, VersionCheckAndProgram, wait, ANY_DEVICE};
}

uint32_t RunWorker(const WorkerSteps& steps) {
    UpdateJob job;  // about 64 KB; lives on the worker's stack for the run
    CreateUpdateJob(job);
    job.chosenDevice = steps.device;
    gUsbLock.initialise();

    if (!DiscoverDevice(job)) {
        gUsbLock.remove();
        DestroyUpdateJob(job);
        gEvents(Finished{false});
        return 1;
    }
    // A device that was switched is on its way to its bootloader: it is
    // found, opened and identified before a stop, so that it can be told to
    // run its application again.
    if (!job.switchedToBootloader) StopBeforeWriting(job);
    const bool back = job.stopped || AwaitRestart(steps.restartWait, job);
    Draw(10, 10, TEXT_WORKING);
    if (!back) {
        deviceReady = 0;  // the switched device did not come back in time
        ShowErrorBox();
    } else if (!job.stopped) {
        DiscoverDevice(job);  // finds a device that the first call switched
    }
    // The bus changed while a chosen device restarted: nothing is written,
    // and the device is sent back to its application if it is still known.
    if (deviceReady == 0) ReturnChosenDevice(job);

    if (deviceReady == 1) OpenDevice(job);
    if (deviceReady == 1 && !StopBeforeWriting(job)) steps.prepareImage(job);
    if (deviceReady == 1 && !StopBeforeWriting(job)) steps.program(job);
    if (deviceReady == 1) RunApplication(job);
    CloseDevice(job);
    gUsbLock.remove();

    if (deviceReady == 1) {
        Draw(10, 10, TEXT_OK);
        Draw(10, 40, TEXT_REBOOT);
    } else {
        Draw(10, 10, TEXT_ERROR);
    }
    gEvents(Finished{deviceReady == 1});
    DestroyUpdateJob(job);
    return 0;
}

bool ClaimWorkerSlot() { return !gWorkerRunning.exchange(true); }

void ReleaseWorkerSlot() { gWorkerRunning.store(false); }
