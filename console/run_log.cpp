#include "console/run_log.h"

#include <cstdio>

#include "console/system/console_output.h"
#include "platform/log_file.h"
#include "runlog/text.h"

namespace {

LogFile gLog;
bool gOpen = false;
std::string gPath;
bool gFailureNoted = false;

}  // namespace

bool RunLogOpen(const char* path, std::string* error) {
    gOpen = LogFileOpen(path, &gLog, error);
    gPath = path;
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
