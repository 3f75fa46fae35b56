// The console platform on Windows: the tick count, Sleep and a critical
// section (the MinGW build has no std::thread or std::mutex).
#include <io.h>
#include <windows.h>

#include "platform/console_platform.h"
#include "platform/seams.h"
#include "platform/win32_system.h"

namespace {

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
bool ConsoleIsTerminal(std::FILE* file) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    if ((GetFileType(handle) & ~static_cast<DWORD>(FILE_TYPE_REMOTE)) != FILE_TYPE_CHAR) return false;
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}
