// The run log (--log) as a file that several programs append to at once:
// each line goes to the end of the file in a single write, so that lines of
// two stations never mix. Opening refuses anything that is not a log of this
// program before a byte is written to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LogFile {
    intptr_t handle = -1;  // a file descriptor, or a HANDLE on Windows
};

// Opens `path` for appending, creating it when it does not exist. Refuses a
// path that is not a regular file (a FIFO, a device, a folder), looked at
// before it is opened so that nothing is touched, and a file that is
// neither empty nor starts with a JSON line of this program (a firmware
// file, also through a link). On refusal or failure `error` says why.
bool LogFileOpen(const char* path, LogFile* log, std::string* error);

// Appends `line` (which ends with a line end) in one write. A file that ends
// inside a line (a write cut short by a full disk, here or at another
// station) gets the missing line end in the same write. The appends of all
// stations take turns on a lock of the file, so that none looks at the end
// of the file while another writes there. False with the reason in `error`
// when the line was not written whole.
bool LogFileAppend(LogFile& log, const std::string& line, std::string* error);

void LogFileClose(LogFile& log);

// Opens `path` for reading as a log (--show-log). Refuses what LogFileOpen
// refuses: a path that is not a regular file, looked at before it is opened
// (a FIFO would block the reader, a device such as /dev/zero never ends),
// and a non-empty file that does not start with a JSON line of this
// program. On refusal or failure `error` says why.
bool LogFileOpenForReading(const char* path, LogFile* log, std::string* error);
// Reads up to `length` bytes from the start of the file into `buffer`,
// whatever the position of the handle; false with the reason in `error`.
bool LogFileReadHead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error);
// Reads up to `length` bytes from where the last read ended into `buffer`;
// `got` is 0 at the end of the file. False with the reason in `error`.
bool LogFileRead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error);

// Whether a non-empty file whose first bytes are `head` may be appended to:
// it starts with a JSON line of this program. Otherwise `error` says what it
// looks like.
bool LogFileHeadIsLog(const char* head, size_t length, std::string* error);
