#include "app/main_window.h"

#include "app/resource.h"
#include "app/taskbar_progress.h"
#include "app/update_run.h"
#include "app/win32_dpi.h"
#include "app/win32_texts.h"
#include "app/window_accessible.h"

HINSTANCE gInstance = nullptr;
HWND gMainWindow = nullptr;
wchar_t gTitle[MAX_LOADSTRING];
wchar_t gWindowClass[MAX_LOADSTRING];

namespace {

// The window's size at 96 DPI, frame included; scaled to the window's DPI.
constexpr int WINDOW_WIDTH = 250;
constexpr int WINDOW_HEIGHT = 200;

// Sent by the taskbar once the window's button exists, and again when
// Explorer has restarted; 0 when it could not be registered.
UINT gTaskbarButtonCreated = 0;

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMARIS));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_LUMARIS);
    wc.lpszClassName = gWindowClass;
    // At the system's small-icon size, so that the icon's own small images
    // are used rather than the large one shrunk.
    wc.hIconSm =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_SMALL), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
    return RegisterClassExW(&wc);
}

bool CreateMainWindow(HINSTANCE instance, int showCommand) {
    gInstance = instance;
    gTaskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    gMainWindow = CreateWindowExW(0, gWindowClass, gTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, WINDOW_WIDTH,
                                  WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (!gMainWindow) return false;
    // Its DPI is known once it exists: on a screen of another DPI than 96 it
    // grows with it before it is shown.
    const unsigned dpi = WindowDpi(gMainWindow);
    if (dpi != BASE_DPI) {
        SetWindowPos(gMainWindow, nullptr, 0, 0, ScaleForDpi(WINDOW_WIDTH, dpi), ScaleForDpi(WINDOW_HEIGHT, dpi),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(gMainWindow, showCommand);
    UpdateWindow(gMainWindow);
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == gTaskbarButtonCreated && gTaskbarButtonCreated != 0) {
        TaskbarButtonCreated(window);
        return 0;
    }
    if (ShowRunEvent(message, wParam)) return 0;
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    DialogBoxParamW(gInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutProc, 0);
                    return 0;
                case IDM_EXIT: RequestClose(window); return 0;
                case IDM_UPDATE: StartUpdateRun(window); return 0;
                default: return DefWindowProcW(window, message, wParam, lParam);
            }
        case WM_PAINT: {
            // The worker's texts again, as it last drew them at each place.
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            if (dc) PaintWindowTexts(window, dc);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_GETOBJECT:
            // The client area as screen readers see it: the status texts.
            if (const LRESULT object = WindowStatusObject(window, wParam, lParam)) return object;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_APP_TEXTS_CHANGED: WindowStatusChanged(window); return 0;
        case WM_TIMER:
            if (WindowStatusTimer(window, wParam)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_DPICHANGED: {
            // Moved to a monitor of another DPI: take the size and place
            // Windows suggests for it. The resized window paints its texts
            // again at the new DPI, and texts drawn later use it too.
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CLOSE: RequestClose(window); return 0;  // close box, Alt+F4
        case WM_QUERYENDSESSION:
            // A shutdown or log-off would cut the update off while it writes
            // the device's flash.
            if (UpdateRunning()) return FALSE;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_SETCURSOR:
            if (SetRunCursor(lParam)) return TRUE;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_APP_WORKER_ENDED: WorkerEnded(window); return 0;
        case WM_DESTROY:
            TaskbarUse(window, nullptr);
            PostQuitMessage(0);
            return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: return TRUE;  // focus goes to the default button
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}
