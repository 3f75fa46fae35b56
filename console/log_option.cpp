#include "console/log_option.h"

#include <cstdio>

#include "console/log_line.h"
#include "console/show_log.h"
#include "console/system/console_output.h"
#include "platform/log_file.h"
#include "runlog/text.h"

namespace {

LogFile gLog;
bool gOpen = false;
std::string gPath;
bool gFailureNoted = false;

// The file's first line, when it has a whole one, is read as the log's
// reader reads it: a file whose first line starts like a log but is not one
// whole JSON object is not appended to.
bool FirstLineIsLog(std::string* error) {
    std::string head(SHOW_LOG_MAX_LINE + 1, '\0');
    size_t got = 0;
    if (!LogFileReadHead(gLog, head.data(), head.size(), &got, error)) return false;
    const size_t end = head.find('\n');
    if (end == std::string::npos || end >= got) return true;  // empty, or one line cut short: ended by the next append
    size_t length = end;
    if (length > 0 && head[length - 1] == '\r') --length;
    LogLine line;
    if (ReadLogLine(head.data(), length, false, &line) && line.Has("event")) return true;
    *error = "its first line is not a JSON line of this program: not a log";
    return false;
}

}  // namespace

bool RunLogOpen(const char* path, std::string* error) {
    gOpen = LogFileOpen(path, &gLog, error);
    gPath = path;
    if (gOpen && !FirstLineIsLog(error)) {
        LogFileClose(gLog);
        gOpen = false;
    }
    return gOpen;
}

bool RunLogIsOpen() { return gOpen; }

void RunLogPut(const std::string& line) {
    if (!gOpen) return;
    std::string error;
    if (LogFileAppend(gLog, line, &error) || gFailureNoted) return;
    gFailureNoted = true;
    ConsoleOutputPut(ConsoleStream::Err,
                     "lumaris-update: the log " + PrintableText(gPath) + " cannot be written (" + PrintableText(error) +
                         "): the update goes on; its exit code tells the result\n",
                     false);
}

void RunLogClose() {
    if (gOpen) LogFileClose(gLog);
    gOpen = false;
}
