// Small text helpers of the run's output: the words for the core's values,
// and text from outside the program made safe to show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "events/update_events.h"

// An identification string for a person: printable ASCII as it is, other
// bytes (and \ and ") as \xNN.
std::string Printable(const uint8_t* bytes, size_t length);
size_t WideLength(const wchar_t* text);
// The length of the well-formed UTF-8 sequence that `bytes` start with (no
// overlong form, no surrogate, nothing above U+10FFFF), its code point in
// `code`; 0 when they start with none.
size_t Utf8Sequence(const uint8_t* bytes, size_t length, char32_t* code);
// The code points of `bytes` when all of them are well-formed UTF-8; false
// otherwise.
bool DecodeUtf8(const uint8_t* bytes, size_t length, std::u32string* out);
// Text from outside the program (a label, a path, an option's value, a
// field of a log file), for a terminal: its well-formed UTF-8 as it is, so
// that a UTF-8 terminal shows it as typed; any other byte, and every byte of
// a control character (C0, DEL, C1), a line or paragraph separator or a
// bidirectional override, embedding or isolate, as \xNN. The one way such
// text reaches a terminal.
std::string PrintableText(const std::string& text);

// The words the output uses for the core's values.
const char* KindName(DeviceKind kind);
const char* QuestionName(VersionQuestion question);
const char* VerdictName(CheckVerdict verdict);
const char* RestartEndName(RestartWaitEnd end);
// "arrival", "departure", "second-bootloader", "early-bootloader".
const char* BusChangeName(BusChange change);
// The same in words: "a device arrived".
const char* BusChangeWords(BusChange change);
const char* BusPhaseName(BusWatchPhase phase);
const char* CommandName(DeviceCommand command);
const char* FaultName(ExchangeFault fault);
// "1.10" for 0x010A; "no version" for 0xFFFF, which marks no version.
std::string FormatVersion(uint8_t high, uint8_t low);
// "0x01" (a device type, a reply byte), "0xBEEF".
std::string HexByte(uint32_t value);
std::string HexWord(uint32_t value);
// A failed exchange in words, e.g. "page 18 (9 of 53): no reply to the erase
// within 100 ms"; `pagesTotal` is the run's page count.
std::string FailureWords(const ExchangeFailure& failure, uint32_t pagesTotal);
// A failed exchange as the cause of the next attempt, e.g. "no reply to the
// erase of page 40": what happened, with no step for the operator.
std::string AttemptCauseWords(const ExchangeFailure& failure);
// A device as discovery reports it, for a person: `device 1: "2021"
// (application)`.
std::string DeviceWords(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length);
// The time now in UTC, ISO 8601: "2025-03-01T12:34:56Z".
std::string UtcNow();
