#include "bootloader/commands.h"

#include <cstring>

#include "bootloader/exchange.h"
#include "platform/seams.h"
#include "platform/update_events.h"
#include "usb/usb_access.h"

namespace {

// What a reply buffer holds before the read. A read must deliver every byte
// asked for; this value is never taken for a reply.
constexpr uint8_t UNFILLED = 0xFF;

// Sends a command whose reply is one status byte; true when it is 0x00.
bool AcknowledgedCommand(UpdateJob& job, const uint8_t* packet, uint32_t packetLength) {
    uint8_t reply = UNFILLED;
    return Exchange(job, packet, packetLength, &reply, 1, false) == ExchangeResult::Ok && reply == 0x00;
}

// Reads one status byte that the queue reported waiting; true when it is 0x00.
bool ReadAcknowledgement(UpdateJob& job) {
    uint8_t reply = UNFILLED;
    uint32_t read = 0;
    return LockedRead(job.handle, &reply, 1, &read) == USB_OK && read == 1 && reply == 0x00;
}

}  // namespace

bool ReadDeviceInfo(UpdateJob& job) {
    if (job.handle == NO_DEVICE) {
        ShowErrorBox();
        return false;
    }
    const uint8_t packet[] = {CMD_GET_INFO};
    uint8_t reply[INFO_REPLY_LENGTH] = {};
    switch (Exchange(job, packet, sizeof packet, reply, sizeof reply, true)) {
        case ExchangeResult::WriteFailed:
        case ExchangeResult::ReadFailed: ShowErrorBox(); return false;
        case ExchangeResult::NoReply: return false;
        case ExchangeResult::Ok: break;
    }
    // Bytes 0..3 are not used; multi-byte values come high byte first.
    job.info.appVerHi = reply[4];
    job.info.appVerLo = reply[5];
    job.info.signature = static_cast<uint32_t>(reply[6]) << 8 | reply[7];
    job.info.deviceType = reply[8];
    return true;
}

bool SelectPage(UpdateJob& job, uint8_t page) {
    if (job.handle == NO_DEVICE) return false;
    const uint8_t packet[] = {CMD_SET_PAGE, page};
    return AcknowledgedCommand(job, packet, sizeof packet);
}

bool ErasePage(UpdateJob& job, uint8_t page) {
    if (job.handle == NO_DEVICE) return false;
    if (!SelectPage(job, page)) return false;
    const uint8_t packet[] = {CMD_ERASE_PAGE};
    return AcknowledgedCommand(job, packet, sizeof packet);
}

bool ProgramPage(UpdateJob& job, const uint8_t (&image)[IMAGE_SIZE], uint8_t page, uint32_t& checksum) {
    if (page >= PAGE_COUNT) return false;
    if (!ErasePage(job, page)) return false;
    bool result = true;
    for (uint8_t half = 0; half < 2; ++half) {
        uint8_t packet[WRITE_HALF_PACKET_LENGTH];
        packet[0] = CMD_WRITE_HALF;
        packet[1] = half;
        std::memcpy(packet + 2, image + page * PAGE_SIZE + half * HALF_PAGE_SIZE, HALF_PAGE_SIZE);
        uint32_t written = 0;
        if (LockedWrite(job.handle, packet, sizeof packet, &written) != USB_OK) return false;

        // Each acknowledgement has its own window. A reply that fails to
        // come skips the rest of this half; the other half is still sent.
        if (!WaitForReply(job, 1, false)) {
            result = false;
            continue;
        }
        if (!ReadAcknowledgement(job)) return false;
        if (!WaitForReply(job, 1, false)) {
            result = false;
            continue;
        }
        if (!ReadAcknowledgement(job)) return false;
        if (half == 1) {
            if (!WaitForReply(job, 2, false)) {
                result = false;
                continue;
            }
            uint8_t reply[2] = {UNFILLED, UNFILLED};
            uint32_t read = 0;
            if (LockedRead(job.handle, reply, sizeof reply, &read) != USB_OK || read != sizeof reply) return false;
            checksum = static_cast<uint32_t>(reply[0]) << 8 | reply[1];
        }
    }
    return result;
}

bool SetFlashKey(UpdateJob& job, uint8_t first, uint8_t second) {
    const uint8_t packet[] = {CMD_SET_FLASH_KEY, first, second};
    return AcknowledgedCommand(job, packet, sizeof packet);
}

bool WriteSignature(UpdateJob& job) {
    if (job.handle == NO_DEVICE) return false;
    const uint8_t packet[] = {CMD_WRITE_SIGNATURE, static_cast<uint8_t>(APP_SIGNATURE & 0xFF),
                              static_cast<uint8_t>(APP_SIGNATURE >> 8)};
    return AcknowledgedCommand(job, packet, sizeof packet);
}

void RunApplication(UpdateJob& job) {
    if (job.handle == NO_DEVICE) {
        gEvents.runSent(false);
        ShowErrorBox();
        return;
    }
    const uint8_t packet[] = {CMD_RUN};
    uint32_t written = 0;
    const bool sent = LockedWrite(job.handle, packet, sizeof packet, &written) == USB_OK;
    gEvents.runSent(sent);
    if (!sent) ShowErrorBox();
}
