#include "app/support_log.h"

namespace {

#if defined(_WIN32)
constexpr char SEPARATOR = '\\';
#else
constexpr char SEPARATOR = '/';
#endif

std::string PathOf(const SupportLog& log, const char* name) { return log.folder + SEPARATOR + name; }

// Moves a full file aside, the oldest kept first. When the older file
// cannot be moved, the full one is not moved over it: the run goes without
// a log rather than lose the older runs.
bool RotateIfFull(const SupportLog& log) {
    const std::string current = PathOf(log, SUPPORT_LOG_NAME);
    if (log.fileSystem->fileSize(current) < SUPPORT_LOG_ROTATE_BYTES) return true;
    const std::string older = PathOf(log, SUPPORT_LOG_OLDER_NAME);
    if (log.fileSystem->fileSize(older) >= 0 &&
        !log.fileSystem->moveReplacing(older, PathOf(log, SUPPORT_LOG_OLDEST_NAME)))
        return false;
    return log.fileSystem->moveReplacing(current, older);
}

}  // namespace

void SupportLogSetFolder(SupportLog& log, const std::string& folder, const SupportLogFileSystem& fileSystem) {
    log.folder = folder;
    log.fileSystem = &fileSystem;
}

bool SupportLogBeginRun(SupportLog& log) {
    SupportLogEndRun(log);
    if (log.folder.empty() || !log.fileSystem) return false;
    if (!log.fileSystem->makeFolder(log.folder) || !RotateIfFull(log)) return false;
    std::string error;
    log.open = LogFileOpen(PathOf(log, SUPPORT_LOG_NAME).c_str(), &log.file, &error);
    return log.open;
}

void SupportLogPut(SupportLog& log, const std::string& line) {
    if (!log.open) return;
    std::string error;
    if (!LogFileAppend(log.file, line, &error)) SupportLogEndRun(log);
}

void SupportLogEndRun(SupportLog& log) {
    if (log.open) LogFileClose(log.file);
    log.open = false;
}
