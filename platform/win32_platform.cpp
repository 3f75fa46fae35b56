#include "platform/win32_platform.h"

#include "platform/seams.h"
#include "platform/win32_dpi.h"
#include "platform/win32_texts.h"

namespace {

const HWND* gMainWindow = nullptr;
CRITICAL_SECTION gUsbSection;

int Win32MessageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    return MessageBoxW(nullptr, text, caption, style);
}

// Each text is remembered by the window (platform/win32_texts.h) and drawn
// with a device context of its own.
void Win32DrawText(int x, int y, const wchar_t* text, int count) {
    const HWND window = gMainWindow ? *gMainWindow : nullptr;
    if (window) DrawWindowText(window, x, y, text, count);
}

uint32_t Win32TickCount() { return GetTickCount(); }
void Win32Sleep(uint32_t milliseconds) { Sleep(milliseconds); }

void LockInitialise() { InitializeCriticalSection(&gUsbSection); }
void LockEnter() { EnterCriticalSection(&gUsbSection); }
void LockLeave() { LeaveCriticalSection(&gUsbSection); }
void LockRemove() { DeleteCriticalSection(&gUsbSection); }

}  // namespace

void Win32PlatformInstall(const HWND* mainWindow) {
    gMainWindow = mainWindow;
    LoadDpiFunctions();
    gUi = UiSeam{Win32MessageBox, Win32DrawText};
    gClock = ClockSeam{Win32TickCount, Win32Sleep};
    gUsbLock = LockSeam{LockInitialise, LockEnter, LockLeave, LockRemove};
}
