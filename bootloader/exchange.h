// The one request/reply helper that every bootloader command goes through.
#pragma once

#include <cstdint>

#include "job/update_job.h"

enum class ReplyWait { Ready, TimedOut, QueryFailed };

// Polls the receive queue until `length` bytes are waiting. The window is
// REPLY_WINDOW_MS; once it has closed the queue is queried exactly once
// more, so that a pause of the PC does not fail a reply that was waiting.
// TimedOut when the bytes are not there at that last look; QueryFailed when
// a query failed. With `stopOnQueryFailure` a failed query ends the wait at
// once, otherwise polling goes on until the last look or the bytes are there
// (and the wait still counts as QueryFailed).
ReplyWait WaitForReply(UpdateJob& job, uint32_t length, bool stopOnQueryFailure);

enum class ExchangeResult { Ok, WriteFailed, NoReply, QueryFailed, ReadFailed, ShortRead };

// Writes `packet`, waits for `replyLength` bytes and reads them into `reply`.
// A read that delivers fewer than `replyLength` bytes is ShortRead.
ExchangeResult Exchange(UpdateJob& job, const uint8_t* packet, uint32_t packetLength, uint8_t* reply,
                        uint32_t replyLength, bool stopOnQueryFailure);
