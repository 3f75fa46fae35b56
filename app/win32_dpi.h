// The DPI a window is shown at, and values scaled to it. The program is
// per-monitor DPI aware: its window size and text positions are given for
// 96 DPI and scaled here. The lookups that Windows 7 and 8 lack are found
// at run time, so the program still starts there.
#pragma once

#include <windows.h>

// The DPI at which sizes are given.
constexpr unsigned BASE_DPI = 96;

// Finds the DPI functions of the running Windows. Call once on the main
// thread before any window exists; until then WindowDpi falls back to the
// screen's logical pixels per inch.
void LoadDpiFunctions();

// The DPI of the monitor the window is on: GetDpiForWindow (Windows 10
// 1607 on), else GetDpiForMonitor (Windows 8.1), else the window DC's
// LOGPIXELSY (the system DPI). Never 0.
unsigned WindowDpi(HWND window);

// `value` given at 96 DPI, in pixels at `dpi`: exactly `value` at 96.
int ScaleForDpi(int value, unsigned dpi);
