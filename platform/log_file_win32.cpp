#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/log_file.h"

namespace {

std::string WindowsError(DWORD code) {
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    char number[32];
    std::snprintf(number, sizeof number, " (Windows error %lu)", static_cast<unsigned long>(code));
    return message + number;
}

bool ReadAt(HANDLE file, char* buffer, DWORD length, LONGLONG offset, DWORD* got) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (ReadFile(file, buffer, length, got, &at)) return true;
    // A read at an offset at or past the end fails with this error, where a
    // read without one reads nothing: nothing there.
    if (GetLastError() != ERROR_HANDLE_EOF) return false;
    *got = 0;
    return true;
}

// The program's text is UTF-8 (the command line is read as wide text and
// handed on in UTF-8): the file is opened by its wide name.
std::wstring WideName(const char* path) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

bool Refuse(HANDLE file, std::string* error, const std::string& why) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    *error = why;
    return false;
}

}  // namespace

bool LogFileOpen(const char* path, LogFile* log, std::string* error) {
    const std::wstring name = WideName(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(INVALID_HANDLE_VALUE, error, "it is a folder, not a regular file");
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as one piece.
    const HANDLE file = CreateFileW(
        name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Refuse(file, error, WindowsError(GetLastError()));
    if (GetFileType(file) != FILE_TYPE_DISK) return Refuse(file, error, "it is a device or a pipe, not a regular file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return Refuse(file, error, WindowsError(GetLastError()));
    if (size.QuadPart > 0) {
        char head[16];
        DWORD got = 0;
        if (!ReadAt(file, head, sizeof head, 0, &got)) return Refuse(file, error, WindowsError(GetLastError()));
        if (!LogFileHeadIsLog(head, got, error)) return Refuse(file, error, *error);
    }
    log->handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool LogFileAppend(LogFile& log, const std::string& line, std::string* error) {
    const HANDLE file = reinterpret_cast<HANDLE>(log.handle);
    // The stations take turns on one byte far beyond any log's end: a lock on
    // Windows also keeps others from reading what it covers.
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
    LARGE_INTEGER size{};
    char last = '\n';
    DWORD got = 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) ReadAt(file, &last, 1, size.QuadPart - 1, &got);
    const std::string text = last == '\n' ? line : "\n" + line;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD writeError = GetLastError();
    if (locked) UnlockFileEx(file, 0, 1, 0, &turn);
    if (ok && written == text.size()) return true;
    // Part of the line may be in the file (a full disk): the rest is not
    // written later, where it could land after another station's line; the
    // next append ends the broken line.
    *error = ok ? "only " + std::to_string(written) + " of the line's " + std::to_string(text.size()) +
                      " bytes were written (the disk is full?)"
                : WindowsError(writeError);
    return false;
}

bool LogFileOpenForReading(const char* path, LogFile* log, std::string* error) {
    const std::wstring name = WideName(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(INVALID_HANDLE_VALUE, error, "it is a folder, not a regular file");
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Refuse(file, error, WindowsError(GetLastError()));
    if (GetFileType(file) != FILE_TYPE_DISK) return Refuse(file, error, "it is a device or a pipe, not a regular file");
    char head[16];
    DWORD got = 0;
    if (!ReadAt(file, head, sizeof head, 0, &got)) return Refuse(file, error, WindowsError(GetLastError()));
    if (got > 0 && !LogFileHeadIsLog(head, got, error)) return Refuse(file, error, *error);
    // The look at the head moved the file's position.
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return Refuse(file, error, WindowsError(GetLastError()));
    log->handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool LogFileReadHead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error) {
    DWORD read = 0;
    const DWORD asked = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    if (!ReadAt(reinterpret_cast<HANDLE>(log.handle), buffer, asked, 0, &read)) {
        *error = WindowsError(GetLastError());
        return false;
    }
    *got = read;
    return true;
}

bool LogFileRead(LogFile& log, char* buffer, size_t length, size_t* got, std::string* error) {
    DWORD read = 0;
    const DWORD asked = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    if (!ReadFile(reinterpret_cast<HANDLE>(log.handle), buffer, asked, &read, nullptr)) {
        *error = WindowsError(GetLastError());
        return false;
    }
    *got = read;
    return true;
}

void LogFileClose(LogFile& log) {
    if (log.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(log.handle));
    log.handle = -1;
}
