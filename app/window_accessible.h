// The main window's client area as screen readers see it. The window draws
// its status texts itself, so without this a screen reader finds the title
// and the menu and nothing else. The client area's accessible object is the
// system's standard one with two answers of its own: its name is the status
// as the window shows it ("Working", "OK REBOOT", "ERROR", empty before an
// update), read from the record that painting draws (app/win32_texts.h),
// and its role is a status bar. Each change of the status is announced
// (EVENT_OBJECT_NAMECHANGE) from the window's thread. Main thread only.
#pragma once

#include <oleacc.h>
#include <windows.h>

// IID_IAccessible. MinGW's oleacc import library exports it as a function,
// so its address there is not the GUID.
constexpr IID ACCESSIBLE_IID = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Texts drawn within this time of each other ("OK" and "REBOOT" come one
// right after the other) are announced as one change.
constexpr UINT STATUS_SETTLE_MS = 200;

// WM_GETOBJECT: for the client area (OBJID_CLIENT) the window's status
// object, as LresultFromObject returns it. 0 for any other object, or when
// the object cannot be made (no COM, no oleacc.dll): the caller then lets
// DefWindowProcW answer, and the standard object stands in.
LRESULT WindowStatusObject(HWND window, WPARAM wParam, LPARAM lParam);

// The status texts may have changed (WM_APP_TEXTS_CHANGED, or a new run has
// emptied them). STATUS_SETTLE_MS later the window announces its status if
// it reads differently from what was last announced.
void WindowStatusChanged(HWND window);

// WM_TIMER: true when `timer` is the status's own timer, now handled.
bool WindowStatusTimer(HWND window, WPARAM timer);
