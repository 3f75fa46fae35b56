// The Windows clock and lock that both Windows programs install: the
// millisecond tick count, Sleep, and a critical section for UsbLock.
#pragma once

#include "platform/seams.h"

extern const ClockSeam WIN32_CLOCK;
extern const LockSeam WIN32_CRITICAL_SECTION_LOCK;
