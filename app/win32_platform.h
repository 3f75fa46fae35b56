// The Windows platform: message boxes with no owner window, texts drawn
// straight into the main window's client area (positions and font scaled to
// the window's DPI) and remembered for its painting (app/win32_texts.h),
// the system tick count and Sleep, and a critical section as the USB lock.
#pragma once

#include <windows.h>

// Installs the Win32 seams. `mainWindow` is read each time a text is drawn,
// so it may be filled in after the install; while it holds no window the
// text is dropped. Also finds the DPI functions (app/win32_dpi.h).
void Win32PlatformInstall(const HWND* mainWindow);
