#include "usb/usb_library_win32.h"

#include <windows.h>

#include <cstring>

#include "usb/usb_library.h"

namespace {

constexpr wchar_t USB_LIBRARY_NAME[] = L"SiUSBXp.dll";
constexpr size_t ROW_COUNT = sizeof USB_ORDINALS / sizeof USB_ORDINALS[0];

// The table's rows are all function pointers of one size, in ordinal order.
static_assert(sizeof(UsbLibrary) == ROW_COUNT * sizeof(FARPROC), "one row per ordinal");

HMODULE gModule = nullptr;

}  // namespace

bool BindUsbLibrary() {
    UnbindUsbLibrary();
    if (!gModule) {
        gModule = LoadLibraryExW(USB_LIBRARY_NAME, nullptr,
                                 LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (!gModule) return false;

    FARPROC rows[ROW_COUNT] = {};
    for (size_t i = 0; i < ROW_COUNT; ++i) {
        rows[i] = GetProcAddress(gModule, MAKEINTRESOURCEA(USB_ORDINALS[i]));
        if (!rows[i]) {
            // A partial table is never used. The ordinal goes to the debugger.
            char note[64];
            wsprintfA(note, "SiUSBXp.dll: ordinal %d missing\n", USB_ORDINALS[i]);
            OutputDebugStringA(note);
            FreeLibrary(gModule);
            gModule = nullptr;
            return false;
        }
    }
    UsbLibrary bound;
    std::memcpy(&bound, rows, sizeof bound);
    gUsb = bound;
    return true;
}
