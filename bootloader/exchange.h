// The one request/reply helper that every bootloader command goes through.
#pragma once

#include <cstdint>

#include "job/update_job.h"

// Polls the receive queue until `length` bytes are waiting. False when the
// reply window closes first or when a query failed; with
// `stopOnQueryFailure` a failed query ends the wait at once, otherwise
// polling goes on until the window closes or the bytes are there.
bool WaitForReply(UpdateJob& job, uint32_t length, bool stopOnQueryFailure);

enum class ExchangeResult { Ok, WriteFailed, NoReply, ReadFailed };

// Writes `packet`, waits for `replyLength` bytes and reads them into `reply`.
// A read that delivers fewer than `replyLength` bytes is ReadFailed.
ExchangeResult Exchange(UpdateJob& job, const uint8_t* packet, uint32_t packetLength, uint8_t* reply,
                        uint32_t replyLength, bool stopOnQueryFailure);
