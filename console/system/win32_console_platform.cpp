// The console platform on Windows: the tick count, Sleep and a critical
// section (the MinGW build has no std::thread or std::mutex).
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "console/system/console_platform.h"
#include "platform/plain_text.h"
#include "platform/seams.h"
#include "platform/win32_system.h"

namespace {

// Bytes that are not UTF-8 become U+FFFD.
std::wstring Wide(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
    out.pop_back();
    return out;
}

// The console behind `file`, or null when it goes to a file, a pipe or NUL.
HANDLE ConsoleOf(std::FILE* file) {
    const int fd = _fileno(file);
    if (fd < 0) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
    if ((GetFileType(handle) & ~static_cast<DWORD>(FILE_TYPE_REMOTE)) != FILE_TYPE_CHAR) return nullptr;
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Whether `file` has a handle to write to. A stream the program was
// started without has none: its descriptor is negative, or holds
// INVALID_HANDLE_VALUE or -2 (no console).
bool HasHandle(std::FILE* file) {
    const int fd = _fileno(file);
    if (fd < 0) return false;
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2 || handle == 0) return false;
    SetLastError(NO_ERROR);
    return GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

// Standard output and error as the program started: false when it had no
// handle for them, and nothing is written to them.
bool gStdoutUsable = true;
bool gStderrUsable = true;

bool Usable(std::FILE* out) {
    if (out == stdout) return gStdoutUsable;
    if (out == stderr) return gStderrUsable;
    return true;
}

volatile LONG gInterrupts = 0;
volatile LONG gClosing = 0;
volatile LONG gRunEnded = 0;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI CountInterrupt(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: InterlockedIncrement(&gInterrupts); return TRUE;
        case CTRL_CLOSE_EVENT:
            // The process ends when this returns, or about 5 s after the
            // close: a stop at once, and time for the result to be written.
            InterlockedExchange(&gClosing, 1);
            InterlockedExchangeAdd(&gInterrupts, 2);
            for (int waited = 0; waited < 4500 && !gRunEnded; waited += 50) Sleep(50);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void ConsoleStandardStreamsStart() {
    gStdoutUsable = HasHandle(stdout);
    gStderrUsable = HasHandle(stderr);
}

void ConsoleSystemInstall() {
    gClock = WIN32_CLOCK;
    gUsbLock = WIN32_CRITICAL_SECTION_LOCK;
}

void ConsoleInterruptsInstall() { SetConsoleCtrlHandler(CountInterrupt, TRUE); }

unsigned ConsoleInterruptCount() { return static_cast<unsigned>(gInterrupts); }

bool ConsoleClosing() { return gClosing != 0; }

bool ConsoleReadYes() {
    // A Ctrl+C ends a console read with nothing read, on the handler's
    // thread as well as this one.
    int first = 0;  // the first character other than a blank
    for (;;) {
        if (gInterrupts > 0) return false;
        const int c = std::getchar();
        if (c == EOF || c == '\n') break;
        if (first == 0 && c != ' ' && c != '\t') first = c;
    }
    std::clearerr(stdin);
    return gInterrupts == 0 && (first == 'y' || first == 'Y');
}

void ConsoleRunEnded() { InterlockedExchange(&gRunEnded, 1); }

// _isatty is true for any character device, NUL among them: a terminal is a
// character device that takes a console mode.
bool ConsoleIsTerminal(std::FILE* file) { return ConsoleOf(file) != nullptr; }

void ConsoleUtf8Arguments(int* argc, char*** argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    arguments.clear(), pointers.clear();
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return;  // the narrow argv, the best there is
    // A lone surrogate is kept as bytes that are not UTF-8, not made U+FFFD.
    for (int i = 0; i < count; ++i)
        arguments.push_back(ArgumentBytes(reinterpret_cast<const uint16_t*>(wide[i]), std::wcslen(wide[i])));
    LocalFree(wide);
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    *argc = count;
    *argv = pointers.data();
}

std::FILE* ConsoleOpenFile(const char* path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

void ConsoleWrite(std::FILE* out, const char* text) {
    if (!Usable(out)) return;
    const HANDLE console = ConsoleOf(out);
    if (!console) {
        std::fputs(text, out);
        return;
    }
    // What the stream holds goes first, so that the order is kept.
    std::fflush(out);
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) std::fputs(text, out);
}
