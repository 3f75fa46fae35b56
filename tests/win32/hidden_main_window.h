// The Windows program's main window for a test: hidden, of a class of its
// own, destroyed at the end of the test (if the test has not closed it),
// with the quit message its destruction posts taken back from the queue.
#pragma once

#include <cwchar>

#include "app/main_window.h"
#include "app/resource.h"

struct HiddenMainWindow {
    HiddenMainWindow() {
        std::wcscpy(gWindowClass, L"Lumaris Update window test");
        std::wcscpy(gTitle, L"Lumaris Update window test");
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        RegisterMainWindowClass(instance);
        created = CreateMainWindow(instance, SW_HIDE);
        // The test program has no resources: the window gets a File menu
        // with the program's commands instead of menu 109.
        if (created && !GetMenu(gMainWindow)) {
            HMENU file = CreatePopupMenu();
            AppendMenuW(file, MF_STRING, IDM_UPDATE, L"U&pdate Firmware");
            AppendMenuW(file, MF_STRING, IDM_EXIT, L"E&xit");
            HMENU bar = CreateMenu();
            AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
            SetMenu(gMainWindow, bar);
        }
    }
    ~HiddenMainWindow() {
        if (created && IsWindow(gMainWindow)) DestroyWindow(gMainWindow);
        MSG quit;
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        UnregisterClassW(gWindowClass, GetModuleHandleW(nullptr));
        gMainWindow = nullptr;
    }
    HiddenMainWindow(const HiddenMainWindow&) = delete;
    HiddenMainWindow& operator=(const HiddenMainWindow&) = delete;
    bool created = false;
};
