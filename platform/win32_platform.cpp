#include "platform/win32_platform.h"

#include "platform/seams.h"
#include "platform/win32_dpi.h"

namespace {

const HWND* gMainWindow = nullptr;
CRITICAL_SECTION gUsbSection;

int Win32MessageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    return MessageBoxW(nullptr, text, caption, style);
}

// A window DC starts with the system font, made for the system DPI. On a
// monitor of another DPI a copy scaled to the window's DPI keeps the text in
// proportion to its scaled position and to the window. Returns nullptr when
// the DC's own font fits.
HFONT FontForDpi(HDC dc, unsigned dpi) {
    const int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
    if (systemDpi <= 0 || dpi == static_cast<unsigned>(systemDpi)) return nullptr;
    LOGFONTW font;
    if (GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font) != sizeof font) return nullptr;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), systemDpi);
    font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), systemDpi);
    return CreateFontIndirectW(&font);
}

// One device context per text, released right after the text is drawn.
// Positions are given at 96 DPI and drawn at the window's DPI.
void Win32DrawText(int x, int y, const wchar_t* text, int count) {
    const HWND window = gMainWindow ? *gMainWindow : nullptr;
    if (!window) return;
    HDC dc = GetDC(window);
    if (!dc) return;
    const unsigned dpi = WindowDpi(window);
    HFONT font = FontForDpi(dc, dpi);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    TextOutW(dc, ScaleForDpi(x, dpi), ScaleForDpi(y, dpi), text, count);
    if (font) {
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    ReleaseDC(window, dc);
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
