#include <windows.h>

#include "console/system/console_thread.h"

struct ConsoleMonitor {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

ConsoleMonitor* ConsoleMonitorCreate() { return new ConsoleMonitor; }

void ConsoleMonitorEnter(ConsoleMonitor* monitor) { AcquireSRWLockExclusive(&monitor->lock); }

void ConsoleMonitorLeave(ConsoleMonitor* monitor) { ReleaseSRWLockExclusive(&monitor->lock); }

void ConsoleMonitorWait(ConsoleMonitor* monitor, uint32_t ms) {
    SleepConditionVariableSRW(&monitor->changed, &monitor->lock, ms, 0);
}

void ConsoleMonitorNotifyAll(ConsoleMonitor* monitor) { WakeAllConditionVariable(&monitor->changed); }

namespace {

void (*gRun)() = nullptr;

DWORD WINAPI RunThread(LPVOID) {
    gRun();
    return 0;
}

}  // namespace

bool ConsoleThreadStart(void (*run)()) {
    gRun = run;
    const HANDLE thread = CreateThread(nullptr, 0, RunThread, nullptr, 0, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}
