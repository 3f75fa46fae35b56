// Entry point of the Windows program: binds the USB library, installs the
// Win32 seams, creates the main window and runs its message loop.
#include <windows.h>

#include "app/main_window.h"
#include "app/resource.h"
#include "platform/win32_platform.h"
#include "platform/win32_session.h"
#include "usb/usb_library_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    Win32PlatformInstall(&gMainWindow);
    LoadSessionCalls();
    // Without the library every operation fails, and the update reports
    // "Error" where it meets the first failure.
    BindUsbLibrary();

    LoadStringW(instance, IDS_APP_TITLE, gTitle, MAX_LOADSTRING);
    LoadStringW(instance, IDC_LUMARIS, gWindowClass, MAX_LOADSTRING);
    RegisterMainWindowClass(instance);
    if (!CreateMainWindow(instance, showCommand)) return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_LUMARIS));
    MSG msg = {};
    // GetMessageW gives -1 on an error; that ends the loop rather than
    // spinning on it.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}
