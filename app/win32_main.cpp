// Entry point of the Windows program: binds the USB library, installs the
// Win32 seams and the window's event sink with its log, creates the main window and runs
// its message loop.
#include <objbase.h>
#include <windows.h>

#include "app/main_window.h"
#include "app/resource.h"
#include "app/support_log_win32.h"
#include "app/win32_platform.h"
#include "app/win32_session.h"
#include "app/window_log.h"
#include "usb/usb_library_win32.h"
#include "version.h"

namespace {

// Returns the exit code of the quit message.
int RunMessageLoop(HINSTANCE instance) {
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    Win32PlatformInstall(&gMainWindow);
    LoadSessionCalls();
    // The window's events, also kept in the support log.
    InstallWindowLog(LUMARIS_VERSION_TEXT, SupportLogFolderOfUser);
    // Without the library every operation fails, and the update reports
    // "Error" where it meets the first failure; the support log says why.
    UsbLibraryProblem problem;
    if (BindUsbLibrary(&problem)) {
        WindowLogKnowLibrary(BoundUsbLibraryPath(), std::string());
    } else {
        WindowLogKnowLibrary(std::string(), UsbLibraryProblemWords(problem, "LumarisUpdate.exe"));
    }
    // The taskbar button's progress goes through COM; without it the button
    // shows none.
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));

    LoadStringW(instance, IDS_APP_TITLE, gTitle, MAX_LOADSTRING);
    LoadStringW(instance, IDC_LUMARIS, gWindowClass, MAX_LOADSTRING);
    RegisterMainWindowClass(instance);
    const int exitCode = CreateMainWindow(instance, showCommand) ? RunMessageLoop(instance) : 0;
    if (com) CoUninitialize();
    return exitCode;
}
