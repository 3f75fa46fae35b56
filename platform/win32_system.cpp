#include "platform/win32_system.h"

#include <windows.h>

namespace {

CRITICAL_SECTION gUsbSection;

uint32_t TickCount() { return GetTickCount(); }
void SleepFor(uint32_t milliseconds) { Sleep(milliseconds); }

void LockInitialise() { InitializeCriticalSection(&gUsbSection); }
void LockEnter() { EnterCriticalSection(&gUsbSection); }
void LockLeave() { LeaveCriticalSection(&gUsbSection); }
void LockRemove() { DeleteCriticalSection(&gUsbSection); }

}  // namespace

const ClockSeam WIN32_CLOCK = {.tickCount = TickCount, .sleep = SleepFor};
const LockSeam WIN32_CRITICAL_SECTION_LOCK = {
    .initialise = LockInitialise,
    .enter = LockEnter,
    .leave = LockLeave,
    .remove = LockRemove,
};
