#include "app/win32_dpi.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
// shcore.dll's GetDpiForMonitor; its second argument 0 asks for the
// effective DPI.
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
constexpr int MDT_EFFECTIVE_DPI_VALUE = 0;

// Written once by LoadDpiFunctions before the worker thread exists, read
// only afterwards.
GetDpiForWindowFunction gGetDpiForWindow = nullptr;
GetDpiForMonitorFunction gGetDpiForMonitor = nullptr;

template <typename Function>
Function Resolve(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through the generic function type, which GCC accepts between
    // function pointer types without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

unsigned DcDpi(HWND window) {
    HDC dc = GetDC(window);
    if (!dc) return BASE_DPI;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<unsigned>(dpi) : BASE_DPI;
}

}  // namespace

void LoadDpiFunctions() {
    gGetDpiForWindow = Resolve<GetDpiForWindowFunction>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    if (gGetDpiForWindow) return;
    // Windows 8.1 and early Windows 10: the monitor's DPI from shcore.dll,
    // which exists there only, from the system folder only.
    HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    gGetDpiForMonitor = Resolve<GetDpiForMonitorFunction>(shcore, "GetDpiForMonitor");
    if (shcore && !gGetDpiForMonitor) FreeLibrary(shcore);
}

unsigned WindowDpi(HWND window) {
    if (gGetDpiForWindow) {
        const UINT dpi = gGetDpiForWindow(window);
        if (dpi > 0) return dpi;
    }
    if (gGetDpiForMonitor) {
        UINT dpiX = 0;
        UINT dpiY = 0;
        HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (monitor && SUCCEEDED(gGetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI_VALUE, &dpiX, &dpiY)) && dpiY > 0)
            return dpiY;
    }
    return DcDpi(window);
}

int ScaleForDpi(int value, unsigned dpi) { return MulDiv(value, static_cast<int>(dpi), static_cast<int>(BASE_DPI)); }
