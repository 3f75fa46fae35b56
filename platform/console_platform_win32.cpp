// The console platform on Windows: the tick count, Sleep and a critical
// section (the MinGW build has no std::thread or std::mutex).
#include <io.h>
#include <windows.h>

#include "platform/console_platform.h"
#include "platform/seams.h"

namespace {

CRITICAL_SECTION gUsbSection;

uint32_t TickCount() { return GetTickCount(); }
void SleepFor(uint32_t milliseconds) { Sleep(milliseconds); }

void LockInitialise() { InitializeCriticalSection(&gUsbSection); }
void LockEnter() { EnterCriticalSection(&gUsbSection); }
void LockLeave() { LeaveCriticalSection(&gUsbSection); }
void LockRemove() { DeleteCriticalSection(&gUsbSection); }

}  // namespace

void ConsoleSystemInstall() {
    gClock = ClockSeam{TickCount, SleepFor};
    gUsbLock = LockSeam{LockInitialise, LockEnter, LockLeave, LockRemove};
}

bool ConsoleIsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }
