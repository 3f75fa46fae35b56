#include "bootloader/commands.h"

#include <cstring>

#include "bootloader/exchange.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "usb/usb_access.h"

namespace {

// What a reply buffer holds before the read. A read must deliver every byte
// asked for; this value is never taken for a reply.
constexpr uint8_t UNFILLED = 0xFF;

ExchangeFault FaultOf(ExchangeResult result) {
    switch (result) {
        case ExchangeResult::WriteFailed: return ExchangeFault::WriteFailed;
        case ExchangeResult::NoReply: return ExchangeFault::NoReply;
        case ExchangeResult::ShortRead: return ExchangeFault::ShortRead;
        case ExchangeResult::QueryFailed:
        case ExchangeResult::ReadFailed:
        case ExchangeResult::Ok: break;
    }
    return ExchangeFault::ReadFailed;
}

void ReportFailedExchange(UpdateJob& job, DeviceCommand command, uint32_t page, ExchangeResult result) {
    ReportExchangeFailure(job, command, page, FaultOf(result), result == ExchangeResult::NoReply ? REPLY_WINDOW_MS : 0,
                          0);
}

// Sends a command whose reply is one status byte; true when it is 0x00.
bool AcknowledgedCommand(UpdateJob& job, DeviceCommand command, uint32_t page, const uint8_t* packet,
                         uint32_t packetLength) {
    uint8_t reply = UNFILLED;
    const ExchangeResult result = Exchange(job, packet, packetLength, &reply, 1, false);
    if (result != ExchangeResult::Ok) {
        ReportFailedExchange(job, command, page, result);
        return false;
    }
    if (reply != 0x00) {
        ReportExchangeFailure(job, command, page, ExchangeFault::BadReply, reply, 0);
        return false;
    }
    return true;
}

enum class HalfReply { Read, NotWaiting, ReadFailed };

// Waits for and reads `length` reply bytes of a page-half write into
// `reply`; a failure is reported. NotWaiting: the bytes did not come (the
// caller goes on with the other half); ReadFailed: the read failed.
HalfReply ReadHalfReply(UpdateJob& job, DeviceCommand command, uint8_t page, uint8_t* reply, uint32_t length) {
    const ReplyWait wait = WaitForReply(job, length, false);
    if (wait != ReplyWait::Ready) {
        ReportFailedExchange(job, command, page,
                             wait == ReplyWait::TimedOut ? ExchangeResult::NoReply : ExchangeResult::QueryFailed);
        return HalfReply::NotWaiting;
    }
    uint32_t read = 0;
    ExchangeResult result = ExchangeResult::Ok;
    if (LockedRead(job.handle, reply, length, &read) != USB_OK) {
        result = ExchangeResult::ReadFailed;
    } else if (read != length) {
        result = ExchangeResult::ShortRead;
    }
    if (result == ExchangeResult::Ok) return HalfReply::Read;
    ReportFailedExchange(job, command, page, result);
    return HalfReply::ReadFailed;
}

}  // namespace

void ReportExchangeFailure(const UpdateJob& job, DeviceCommand command, uint32_t page, ExchangeFault fault,
                           uint32_t detail, uint32_t expected) {
    gEvents(ExchangeFailed{
        ExchangeFailure{command, page, page == NO_PAGE ? 0 : job.pageIndex, fault, detail, expected, job.deviceCount}});
}

bool ReadDeviceInfo(UpdateJob& job) {
    if (job.handle == NO_DEVICE) {
        ShowErrorBox();
        return false;
    }
    const uint8_t packet[] = {CMD_GET_INFO};
    uint8_t reply[INFO_REPLY_LENGTH] = {};
    const ExchangeResult result = Exchange(job, packet, sizeof packet, reply, sizeof reply, true);
    switch (result) {
        case ExchangeResult::WriteFailed:
        case ExchangeResult::ReadFailed:
        case ExchangeResult::ShortRead:
            ReportFailedExchange(job, DeviceCommand::GetInfo, NO_PAGE, result);
            ShowErrorBox();
            return false;
        case ExchangeResult::NoReply:
        case ExchangeResult::QueryFailed:
            ReportFailedExchange(job, DeviceCommand::GetInfo, NO_PAGE, result);
            return false;
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
    return AcknowledgedCommand(job, DeviceCommand::SelectPage, page, packet, sizeof packet);
}

bool ErasePage(UpdateJob& job, uint8_t page) {
    if (job.handle == NO_DEVICE) return false;
    if (!SelectPage(job, page)) return false;
    const uint8_t packet[] = {CMD_ERASE_PAGE};
    return AcknowledgedCommand(job, DeviceCommand::ErasePage, page, packet, sizeof packet);
}

bool ProgramPage(UpdateJob& job, const uint8_t (&image)[IMAGE_SIZE], uint8_t page, uint32_t& checksum) {
    if (page >= PAGE_COUNT) return false;
    if (!ErasePage(job, page)) return false;
    bool result = true;
    for (uint8_t half = 0; half < 2; ++half) {
        const DeviceCommand command = half == 0 ? DeviceCommand::WriteHalf0 : DeviceCommand::WriteHalf1;
        uint8_t packet[WRITE_HALF_PACKET_LENGTH];
        packet[0] = CMD_WRITE_HALF;
        packet[1] = half;
        std::memcpy(packet + 2, image + page * PAGE_SIZE + half * HALF_PAGE_SIZE, HALF_PAGE_SIZE);
        uint32_t written = 0;
        if (LockedWrite(job.handle, packet, sizeof packet, &written) != USB_OK) {
            ReportFailedExchange(job, command, page, ExchangeResult::WriteFailed);
            return false;
        }

        // Each acknowledgement has its own window. A reply that fails to
        // come skips the rest of this half; the other half is still sent.
        bool acknowledged = true;
        for (int ack = 0; ack < 2 && acknowledged; ++ack) {
            uint8_t reply = UNFILLED;
            const HalfReply got = ReadHalfReply(job, command, page, &reply, 1);
            if (got == HalfReply::ReadFailed) return false;
            if (got == HalfReply::NotWaiting) {
                acknowledged = false;
                break;
            }
            if (reply != 0x00) {
                ReportExchangeFailure(job, command, page, ExchangeFault::BadReply, reply, 0);
                return false;
            }
        }
        if (!acknowledged) {
            result = false;
            continue;
        }
        if (half == 1) {
            uint8_t reply[2] = {UNFILLED, UNFILLED};
            const HalfReply got = ReadHalfReply(job, command, page, reply, sizeof reply);
            if (got == HalfReply::ReadFailed) return false;
            if (got == HalfReply::NotWaiting) {
                result = false;
                continue;
            }
            checksum = static_cast<uint32_t>(reply[0]) << 8 | reply[1];
        }
    }
    return result;
}

bool SetFlashKey(UpdateJob& job, uint8_t first, uint8_t second) {
    const uint8_t packet[] = {CMD_SET_FLASH_KEY, first, second};
    return AcknowledgedCommand(job, DeviceCommand::FlashKey, NO_PAGE, packet, sizeof packet);
}

bool WriteSignature(UpdateJob& job) {
    if (job.handle == NO_DEVICE) return false;
    const uint8_t packet[] = {CMD_WRITE_SIGNATURE, static_cast<uint8_t>(APP_SIGNATURE & 0xFF),
                              static_cast<uint8_t>(APP_SIGNATURE >> 8)};
    return AcknowledgedCommand(job, DeviceCommand::WriteSignature, NO_PAGE, packet, sizeof packet);
}

void RunApplication(UpdateJob& job) {
    if (job.handle == NO_DEVICE) {
        gEvents(RunSent{false});
        ShowErrorBox();
        return;
    }
    const uint8_t packet[] = {CMD_RUN};
    uint32_t written = 0;
    const bool sent = LockedWrite(job.handle, packet, sizeof packet, &written) == USB_OK;
    gEvents(RunSent{sent});
    if (!sent) {
        ReportFailedExchange(job, DeviceCommand::Run, NO_PAGE, ExchangeResult::WriteFailed);
        ShowErrorBox();
    }
}
