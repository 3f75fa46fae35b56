// The main window of the Windows program: its class, its procedure and the
// process-wide values the shell keeps.
#pragma once

#include <windows.h>

constexpr int MAX_LOADSTRING = 100;

extern HINSTANCE gInstance;
// Read by the worker thread to draw its texts; written once before the
// first message is handled.
extern HWND gMainWindow;
extern wchar_t gTitle[MAX_LOADSTRING];
extern wchar_t gWindowClass[MAX_LOADSTRING];

ATOM RegisterMainWindowClass(HINSTANCE instance);
// Creates and shows the main window. Returns false when it cannot be created.
bool CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
