// The window program's support log: what each update run did, as JSON
// lines, in a file the service desk can ask a customer for. The log never
// stands in the way of an update: a folder that cannot be made, a file
// that cannot be opened, rotated or written turns the log off for the rest
// of the run, silently, and the run goes on as without it.
//
// Each line reaches the file in one write as it is put (platform/log_file.h),
// nothing is held back in the program: a program that is killed leaves
// whole lines behind. A file that has grown to SUPPORT_LOG_ROTATE_BYTES is
// moved aside when the next run begins, so that a run is never split over
// two files: support-log.jsonl becomes support-log.1.jsonl, and that one
// support-log.2.jsonl, the oldest kept.
#pragma once

#include <cstdint>
#include <string>

#include "platform/log_file.h"

constexpr int64_t SUPPORT_LOG_ROTATE_BYTES = 1024 * 1024;
constexpr char SUPPORT_LOG_NAME[] = "support-log.jsonl";
constexpr char SUPPORT_LOG_OLDER_NAME[] = "support-log.1.jsonl";
constexpr char SUPPORT_LOG_OLDEST_NAME[] = "support-log.2.jsonl";

// What the support log needs of the file system besides appending, by
// UTF-8 path: the Windows calls in the program (app/support_log_win32.h),
// a folder of its own or failing calls in the tests.
struct SupportLogFileSystem {
    // True when `folder` is a folder afterwards: made now, or there already.
    bool (*makeFolder)(const std::string& folder);
    // The size of the file at `path` in bytes; -1 when there is none.
    int64_t (*fileSize)(const std::string& path);
    // Renames `from` to `to`, replacing a file at `to`.
    bool (*moveReplacing)(const std::string& from, const std::string& to);
};

struct SupportLog {
    // The log's folder; empty when it could not be found (no log at all).
    std::string folder;
    const SupportLogFileSystem* fileSystem = nullptr;
    // Open from the start of a run that could open it until its end or its
    // first failed write.
    LogFile file;
    bool open = false;
};

// The folder whose support-log.jsonl the runs append to. It is made at the
// start of each run when it is missing.
void SupportLogSetFolder(SupportLog& log, const std::string& folder, const SupportLogFileSystem& fileSystem);

// At the start of a run: makes the folder, moves a full file aside and
// opens the file. False when the run has no log.
bool SupportLogBeginRun(SupportLog& log);

// Appends one whole line (ending with a line end). A line that cannot be
// written turns the log off until the next run.
void SupportLogPut(SupportLog& log, const std::string& line);

// At the end of a run: closes the file.
void SupportLogEndRun(SupportLog& log);
