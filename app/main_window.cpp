#include "app/main_window.h"

#include "app/resource.h"
#include "platform/win32_dpi.h"
#include "platform/win32_texts.h"
#include "worker/update_worker.h"

HINSTANCE gInstance = nullptr;
HWND gMainWindow = nullptr;
wchar_t gTitle[MAX_LOADSTRING];
wchar_t gWindowClass[MAX_LOADSTRING];

namespace {

// The window's size at 96 DPI, frame included; scaled to the window's DPI.
constexpr int WINDOW_WIDTH = 250;
constexpr int WINDOW_HEIGHT = 200;

DWORD WINAPI WorkerThreadProc(LPVOID) {
    const DWORD exitCode = UpdateWorker();
    ReleaseWorkerSlot();
    return exitCode;
}

// Starts one update worker. While one runs, the command is ignored: two
// workers would share the USB lock, the embedded image and the window.
// A new run starts on an empty window: no text of the last run stays beside
// its "Working", on the screen or in a repaint.
void StartUpdate(HWND window) {
    if (!ClaimWorkerSlot()) return;
    ForgetWindowTexts();
    InvalidateRect(window, nullptr, TRUE);
    HANDLE thread = CreateThread(nullptr, 0, WorkerThreadProc, nullptr, 0, nullptr);
    if (!thread) {
        ReleaseWorkerSlot();
        return;
    }
    CloseHandle(thread);  // the thread runs on; its handle is not needed
}

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
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    DialogBoxParamW(gInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutProc, 0);
                    return 0;
                case IDM_EXIT: DestroyWindow(window); return 0;
                case IDM_UPDATE: StartUpdate(window); return 0;
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
        case WM_DPICHANGED: {
            // Moved to a monitor of another DPI: take the size and place
            // Windows suggests for it. Texts drawn later use the new DPI.
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
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
