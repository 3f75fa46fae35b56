#include "worker/update_worker.h"

#include <atomic>

#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "flashing/flashing.h"
#include "image/image_validation.h"
#include "platform/seams.h"
#include "job/update_job.h"

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

}  // namespace

uint32_t UpdateWorker() { return UpdateWorkerWith(PrepareAndValidateImage); }

uint32_t UpdateWorkerWith(ImageStep prepareImage) {
    UpdateJob job;  // about 64 KB; lives on the worker's stack for the run
    CreateUpdateJob(job);
    gUsbLock.initialise();

    if (!DiscoverDevice(job)) {
        gUsbLock.remove();
        DestroyUpdateJob(job);
        return 1;
    }
    gClock.sleep(RESTART_WAIT_MS);
    Draw(10, 10, TEXT_WORKING);
    DiscoverDevice(job);  // finds a device that the first call switched

    if (deviceReady == 1) OpenDevice(job);
    if (deviceReady == 1) prepareImage(job);
    if (deviceReady == 1) VersionCheckAndProgram(job);
    if (deviceReady == 1) RunApplication(job);
    CloseDevice(job);
    gUsbLock.remove();

    if (deviceReady == 1) {
        Draw(10, 10, TEXT_OK);
        Draw(10, 40, TEXT_REBOOT);
    } else {
        Draw(10, 10, TEXT_ERROR);
    }
    DestroyUpdateJob(job);
    return 0;
}

bool ClaimWorkerSlot() { return !gWorkerRunning.exchange(true); }

void ReleaseWorkerSlot() { gWorkerRunning.store(false); }
