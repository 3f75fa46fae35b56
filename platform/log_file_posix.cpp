#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log_file.h"

namespace {

// What a path that is not a regular file is, for the refusal.
const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

bool ReadAt(int fd, char* buffer, size_t length, off_t offset, size_t* got) {
    const ssize_t n = pread(fd, buffer, length, offset);
    if (n < 0) return false;
    *got = static_cast<size_t>(n);
    return true;
}

bool Refuse(int fd, std::string* error, const std::string& why) {
    if (fd >= 0) close(fd);
    *error = why;
    return false;
}

}  // namespace

bool LogFileOpen(const char* path, LogFile* log, std::string* error) {
    // Looked at before it is opened: opening a FIFO or a device may block or
    // act on it.
    struct stat before {};
    if (stat(path, &before) == 0 && !S_ISREG(before.st_mode))
        return Refuse(-1, error, std::string("it is ") + KindOf(before.st_mode) + ", not a regular file");
    const int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return Refuse(-1, error, std::strerror(errno));
    struct stat opened {};
    if (fstat(fd, &opened) != 0) return Refuse(fd, error, std::strerror(errno));
    if (!S_ISREG(opened.st_mode))
        return Refuse(fd, error, std::string("it is ") + KindOf(opened.st_mode) + ", not a regular file");
    if (opened.st_size > 0) {
        char head[16];
        size_t got = 0;
        if (!ReadAt(fd, head, sizeof head, 0, &got)) return Refuse(fd, error, std::strerror(errno));
        if (!LogFileHeadIsLog(head, got, error)) return Refuse(fd, error, *error);
    }
    log->handle = fd;
    return true;
}

bool LogFileAppend(LogFile& log, const std::string& line, std::string* error) {
    const int fd = static_cast<int>(log.handle);
    // Without the lock (a file system that has none) the line is still
    // written in one piece.
    const bool locked = flock(fd, LOCK_EX) == 0;
    struct stat now {};
    char last = '\n';
    size_t got = 0;
    if (fstat(fd, &now) == 0 && now.st_size > 0) ReadAt(fd, &last, 1, now.st_size - 1, &got);
    const std::string text = last == '\n' ? line : "\n" + line;
    ssize_t written;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;
    if (locked) flock(fd, LOCK_UN);
    if (written == static_cast<ssize_t>(text.size())) return true;
    // Part of the line may be in the file (a full disk): the rest is not
    // written later, where it could land after another station's line; the
    // next append ends the broken line.
    *error = written < 0 ? std::strerror(writeError)
                         : "only " + std::to_string(written) + " of the line's " + std::to_string(text.size()) +
                               " bytes were written (the disk is full?)";
    return false;
}

bool LogFileOpenForReading(const char* path, LogFile* log, std::string* error) {
    struct stat before {};
    if (stat(path, &before) == 0 && !S_ISREG(before.st_mode))
        return Refuse(-1, error, std::string("it is ") + KindOf(before.st_mode) + ", not a regular file");
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refuse(-1, error, std::strerror(errno));
    struct stat opened {};
    if (fstat(fd, &opened) != 0) return Refuse(fd, error, std::strerror(errno));
    if (!S_ISREG(opened.st_mode))
        return Refuse(fd, error, std::string("it is ") + KindOf(opened.st_mode) + ", not a regular file");
    char head[16];
    size_t got = 0;
    if (!ReadAt(fd, head, sizeof head, 0, &got)) return Refuse(fd, error, std::strerror(errno));
    if (got > 0 && !LogFileHeadIsLog(head, got, error)) return Refuse(fd, error, *error);
    log->handle = fd;
    return true;
}

bool LogFileReadHead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error) {
    if (ReadAt(static_cast<int>(log.handle), buffer, length, 0, got)) return true;
    *error = std::strerror(errno);
    return false;
}

bool LogFileRead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error) {
    ssize_t n;
    do {
        n = read(static_cast<int>(log.handle), buffer, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        *error = std::strerror(errno);
        return false;
    }
    *got = static_cast<size_t>(n);
    return true;
}

void LogFileClose(LogFile& log) {
    if (log.handle >= 0) close(static_cast<int>(log.handle));
    log.handle = -1;
}
