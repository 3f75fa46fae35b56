// --show-log FILE: a run log (--log, or the window program's support log)
// read back for a person, each run in a few lines.
//
// The file is hostile input: it is read in pieces, line by line with each
// line's length (a NUL is a byte like any other), a line longer than
// SHOW_LOG_MAX_LINE is skipped without being held, and every value reaches
// the terminal through PrintableText or the program's JSON writer. Memory
// stays a small multiple of SHOW_LOG_MAX_LINE whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t SHOW_LOG_MAX_LINE = size_t{1} << 20;

// Runs without a result kept open at once; past this, the oldest is shown
// as killed.
constexpr size_t SHOW_LOG_MAX_OPEN_RUNS = 1024;

// Prints the runs of the log at `path` (a UTF-8 name); `last` > 0 keeps only
// the last runs. `json`: each run's result line, then a summary, as JSON.
// Returns the exit code: 0, or 2 when the file cannot be read or is not a
// log (a FIFO, a device, a folder, a file that does not start as a log).
int ShowLog(const char* path, uint32_t last, bool json);

// Fills `buffer` with up to `length` bytes, setting `got` (0 at the end of
// the file); false, with the reason in `error`, when the read failed.
using ShowLogSource = std::function<bool(char* buffer, size_t length, size_t* got, std::string* error)>;
using ShowLogSink = std::function<void(const std::string& text)>;

// The reading and the printing of ShowLog, on any source. Returns false,
// with the reason in `error`, when the source failed (what was read is
// printed first).
bool ShowLogRead(const ShowLogSource& source, uint32_t last, bool json, const ShowLogSink& out, std::string* error);
