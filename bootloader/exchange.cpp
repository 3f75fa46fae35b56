#include "bootloader/exchange.h"

#include "bootloader/commands.h"
#include "platform/seams.h"
#include "usb/usb_access.h"

bool WaitForReply(UpdateJob& job, uint32_t length, bool stopOnQueryFailure) {
    uint32_t waiting = 0;
    bool queryFailed = false;
    const uint32_t start = gClock.tickCount();
    while (waiting < length) {
        // Unsigned difference: correct across the wrap of the tick counter.
        if (gClock.tickCount() - start >= REPLY_WINDOW_MS) {
            return false;
        }
        uint32_t polled = 0;
        if (LockedQueryRxQueue(job.handle, &polled) != USB_OK) {
            queryFailed = true;
            if (stopOnQueryFailure) {
                return false;
            }
            continue;
        }
        waiting = polled;
    }
    return !queryFailed;
}

ExchangeResult Exchange(UpdateJob& job, const uint8_t* packet, uint32_t packetLength, uint8_t* reply,
                        uint32_t replyLength, bool stopOnQueryFailure) {
    uint32_t written = 0;
    if (LockedWrite(job.handle, packet, packetLength, &written) != USB_OK) {
        return ExchangeResult::WriteFailed;
    }
    if (!WaitForReply(job, replyLength, stopOnQueryFailure)) {
        return ExchangeResult::NoReply;
    }
    // A read that delivers fewer bytes than asked failed as surely as one
    // with a non-zero status: the rest of the buffer holds no reply.
    uint32_t read = 0;
    if (LockedRead(job.handle, reply, replyLength, &read) != USB_OK || read != replyLength) {
        return ExchangeResult::ReadFailed;
    }
    return ExchangeResult::Ok;
}
