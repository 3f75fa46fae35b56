#include "bootloader/exchange.h"

#include "bootloader/commands.h"
#include "platform/seams.h"
#include "usb/usb_access.h"

ReplyWait WaitForReply(UpdateJob& job, uint32_t length, bool stopOnQueryFailure) {
    bool queryFailed = false;
    const uint32_t start = gClock.tickCount();
    for (;;) {
        // The window is read before the query: when the PC was paused past
        // its end (the worker off the processor, a loaded machine, a suspend)
        // the device has had the whole window, so one last query still
        // counts a reply that has been waiting all along. A reply that comes
        // after that look is late.
        // Unsigned difference: correct across the wrap of the tick counter.
        const bool lastLook = gClock.tickCount() - start >= REPLY_WINDOW_MS;
        uint32_t waiting = 0;
        if (LockedQueryRxQueue(job.handle, &waiting) != USB_OK) {
            queryFailed = true;
            if (stopOnQueryFailure || lastLook) return ReplyWait::QueryFailed;
            continue;
        }
        if (waiting >= length) return queryFailed ? ReplyWait::QueryFailed : ReplyWait::Ready;
        if (lastLook) return queryFailed ? ReplyWait::QueryFailed : ReplyWait::TimedOut;
    }
}

ExchangeResult Exchange(UpdateJob& job, const uint8_t* packet, uint32_t packetLength, uint8_t* reply,
                        uint32_t replyLength, bool stopOnQueryFailure) {
    uint32_t written = 0;
    if (LockedWrite(job.handle, packet, packetLength, &written) != USB_OK) {
        return ExchangeResult::WriteFailed;
    }
    switch (WaitForReply(job, replyLength, stopOnQueryFailure)) {
        case ReplyWait::TimedOut: return ExchangeResult::NoReply;
        case ReplyWait::QueryFailed: return ExchangeResult::QueryFailed;
        case ReplyWait::Ready: break;
    }
    // A read that delivers fewer bytes than asked failed as surely as one
    // with a non-zero status: the rest of the buffer holds no reply.
    uint32_t read = 0;
    if (LockedRead(job.handle, reply, replyLength, &read) != USB_OK) return ExchangeResult::ReadFailed;
    if (read != replyLength) return ExchangeResult::ShortRead;
    return ExchangeResult::Ok;
}
