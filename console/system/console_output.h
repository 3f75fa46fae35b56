// Standard output and standard error of the console program, written by a
// thread of their own. Whoever prints only queues the text, so the update
// never waits for a reader: a pipe nobody reads (`-v | less` left unpaged)
// or a paused terminal holds the output, never the device.
//
// The rule: a progress line (a page, a packet, the progress bar) that
// cannot be written in time is dropped and counted. It is not in time when
// the output waits for its reader: text is waiting and the reader has taken
// none for CONSOLE_OUTPUT_LATE_MS, or CONSOLE_OUTPUT_BACKLOG bytes wait.
// Every other line (failures, the result, questions) is kept and written in
// order once the reader takes it, which may be after the device is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class ConsoleStream { Out, Err };

constexpr uint32_t CONSOLE_OUTPUT_LATE_MS = 250;
constexpr size_t CONSOLE_OUTPUT_BACKLOG = 1024 * 1024;

// Starts the writing thread. Before it (and where it cannot start) text is
// written at once by the caller.
void ConsoleOutputStart();

// Queues `text` for `stream`; a `progress` text is dropped and counted when
// the output is late (above). False when dropped. A write that fails is noted once
// on standard error and the rest goes on (SIGPIPE is ignored).
bool ConsoleOutputPut(ConsoleStream stream, const std::string& text, bool progress);

// Progress texts dropped so far.
uint32_t ConsoleOutputDropped();

// Waits until everything queued is written. Gives up, returning false, when
// `giveUp()` says so while the output has not moved for
// CONSOLE_OUTPUT_STUCK_MS: the reader does not read, and the user wants the
// program to end. The writing thread may still be blocked then: end the
// process without flushing standard streams (std::_Exit).
constexpr uint32_t CONSOLE_OUTPUT_STUCK_MS = 500;
bool ConsoleOutputDrain(bool (*giveUp)());
