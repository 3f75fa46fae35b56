#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "events/update_events.h"
#include "flashing/flashing.h"
#include "platform/seams.h"

namespace {

bool Fail() {
    ShowErrorBox();
    return false;
}

// A stop once flash writing is unlocked: the device holds no valid
// application.
bool Stopped(UpdateJob& job) {
    deviceReady = 0;
    job.stopped = true;
    gEvents(RunStopped{true});
    return false;
}

uint32_t PagesToWrite(const UpdateJob& job) {
    uint32_t pages = 0;
    for (unsigned page = FIRST_APP_PAGE; page <= job.lastPage && page < PAGE_COUNT; ++page)
        pages += job.PageMap[page] != 0;
    return pages;
}

}  // namespace

bool StopBeforeWriting(UpdateJob& job) {
    if (BusChangedSinceRestart(job, BusWatchPhase::Restart)) {
        // A device arrived after the chosen one came back: the device open
        // may not be the chosen one. Only while it is still known (the one
        // bootloader on the bus) is it told to run its valid application.
        if (job.chosenKnown && deviceReady == 1 && job.handle != NO_DEVICE && job.info.signature == APP_SIGNATURE)
            RunApplication(job);
        deviceReady = 0;
        return true;
    }
    if (!gStop.requested()) return false;
    if (job.switchedToBootloader && deviceReady == 1 && job.handle != NO_DEVICE &&
        job.info.signature == APP_SIGNATURE) {
        RunApplication(job);
    }
    deviceReady = 0;
    job.stopped = true;
    gEvents(RunStopped{false});
    return true;
}

bool ProgramFlash(UpdateJob& job) {
    if (job.handle == NO_DEVICE) return Fail();
    if (StopBeforeWriting(job)) return false;
    if (!SetFlashKey(job, FLASH_KEY_FIRST, FLASH_KEY_SECOND)) return Fail();
    const uint32_t total = PagesToWrite(job);
    gEvents(ProgrammingStarted{total});
    // The signature page goes first, so that an interrupted run leaves no
    // valid application behind.
    if (!ErasePage(job, job.lastPage)) return Fail();

    uint32_t index = 0;
    for (unsigned page = FIRST_APP_PAGE; page <= job.lastPage && page < PAGE_COUNT; ++page) {
        if (!job.PageMap[page]) continue;  // the device keeps its old content there
        BusChangedSinceRestart(job, BusWatchPhase::Update);
        if (gStop.requested()) return Stopped(job);
        uint32_t checksum = 0;
        const auto p = static_cast<uint8_t>(page);
        job.pageIndex = ++index;
        const bool written = ProgramPage(job, job.ImageBuffer, p, checksum);
        const uint16_t expected = PageCrc(job, p);
        const bool verified = written && checksum == expected;
        if (written && !verified)
            ReportExchangeFailure(job, DeviceCommand::WriteHalf1, p, ExchangeFault::ChecksumMismatch, checksum,
                                  expected);
        gEvents(PageProgrammed{p, index, total, written, verified});
        if (!verified) return Fail();
    }

    job.pageIndex = 0;
    // The signature is the last write an arrival could make unprovable.
    BusChangedSinceRestart(job, BusWatchPhase::Update);
    if (gStop.requested()) return Stopped(job);
    const bool signatureAcknowledged = WriteSignature(job);
    gEvents(SignatureWritten{signatureAcknowledged});
    if (!signatureAcknowledged) return Fail();
    // Only a signature read after the write may pass: forget the one read
    // before programming.
    // A read-back whose identification failed (its box shown) confirms
    // nothing, whatever its reply held.
    job.info.signature = 0;
    if (!IdentifyDevice(job)) job.info.signature = 0;
    gEvents(SignatureConfirmed{job.info.signature == APP_SIGNATURE, static_cast<uint16_t>(job.info.signature)});
    if (job.info.signature != APP_SIGNATURE) return Fail();
    if (!SetFlashKey(job, 0x00, 0x00)) return Fail();
    return true;
}
