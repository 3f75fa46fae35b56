#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "flashing/flashing.h"
#include "platform/seams.h"

namespace {

bool Fail() {
    ShowErrorBox();
    return false;
}

}  // namespace

bool ProgramFlash(UpdateJob& job) {
    if (job.handle == NO_DEVICE) return Fail();
    if (!SetFlashKey(job, FLASH_KEY_FIRST, FLASH_KEY_SECOND)) return Fail();
    // The signature page goes first, so that an interrupted run leaves no
    // valid application behind.
    if (!ErasePage(job, job.lastPage)) return Fail();

    for (unsigned page = FIRST_APP_PAGE; page <= job.lastPage && page < PAGE_COUNT; ++page) {
        if (!job.PageMap[page]) continue;  // the device keeps its old content there
        uint32_t checksum = 0;
        const auto p = static_cast<uint8_t>(page);
        if (!ProgramPage(job, job.ImageBuffer, p, checksum)) return Fail();
        if (checksum != PageCrc(job, p)) return Fail();
    }

    if (!WriteSignature(job)) return Fail();
    // Only a signature read after the write may pass: forget the one read
    // before programming.
    job.info.signature = 0;
    IdentifyDevice(job);
    if (job.info.signature != APP_SIGNATURE) return Fail();
    if (!SetFlashKey(job, 0x00, 0x00)) return Fail();
    return true;
}
