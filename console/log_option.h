// The run log (--log): every event of every run as a JSON line, appended to
// one file that other stations may append to at the same time. A line that
// cannot be written is noted once on standard error, apart from the screen's
// own failures, and the update goes on: its exit code tells the result.
#pragma once

#include <string>

// Opens the log, or says in `error` why it is refused (platform/log_file.h).
bool RunLogOpen(const char* path, std::string* error);
bool RunLogIsOpen();
// Appends one whole line (ending with a line end).
void RunLogPut(const std::string& line);
void RunLogClose();
