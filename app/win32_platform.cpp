#include "app/win32_platform.h"

#include "app/win32_dpi.h"
#include "app/win32_texts.h"
#include "platform/seams.h"
#include "platform/win32_system.h"

namespace {

const HWND* gMainWindow = nullptr;

int Win32MessageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    return MessageBoxW(nullptr, text, caption, style);
}

// Each text is remembered by the window (app/win32_texts.h) and drawn
// with a device context of its own.
void Win32DrawText(int x, int y, const wchar_t* text, int count) {
    const HWND window = gMainWindow ? *gMainWindow : nullptr;
    if (window) DrawWindowText(window, x, y, text, count);
}

}  // namespace

void Win32PlatformInstall(const HWND* mainWindow) {
    gMainWindow = mainWindow;
    LoadDpiFunctions();
    gUi = UiSeam{.messageBox = Win32MessageBox, .drawText = Win32DrawText};
    gClock = WIN32_CLOCK;
    gUsbLock = WIN32_CRITICAL_SECTION_LOCK;
}
