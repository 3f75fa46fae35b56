#include "usb/usb_library_win32.h"

#include <cstring>
#include <cwchar>

#include "usb/usb_library.h"

namespace {

constexpr wchar_t USB_LIBRARY_NAME[] = L"SiUSBXp.dll";
constexpr size_t ROW_COUNT = sizeof USB_ORDINALS / sizeof USB_ORDINALS[0];
// The longest path Windows handles, in characters, with its NUL.
constexpr DWORD PATH_CAPACITY = 32768;

// The table's rows are all function pointers of one size, in ordinal order.
static_assert(sizeof(UsbLibrary) == ROW_COUNT * sizeof(FARPROC), "one row per ordinal");

HMODULE gModule = nullptr;
// The library's full path for the fallback load; too large for the stack,
// used only while binding, which happens on one thread.
wchar_t gPath[PATH_CAPACITY];

HMODULE SystemLoadLibraryEx(const wchar_t* name, DWORD flags) { return LoadLibraryExW(name, nullptr, flags); }
DWORD SystemProgramFileName(wchar_t* buffer, DWORD capacity) { return GetModuleFileNameW(nullptr, buffer, capacity); }
DWORD SystemLastError() { return GetLastError(); }

// Fills gPath with the program's folder and the library's name. False when
// the program's path does not fit (GetModuleFileNameW then fills the whole
// buffer and may leave it without its NUL), holds no folder, or the result
// would not fit.
bool LibraryPathBesideProgram(const LibraryLoader& loader) {
    const DWORD length = loader.programFileName(gPath, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) return false;
    gPath[length] = L'\0';
    wchar_t* lastSlash = std::wcsrchr(gPath, L'\\');
    if (!lastSlash) return false;
    const size_t folderLength = static_cast<size_t>(lastSlash - gPath) + 1;
    constexpr size_t nameLength = sizeof USB_LIBRARY_NAME / sizeof USB_LIBRARY_NAME[0];  // with its NUL
    if (folderLength + nameLength > PATH_CAPACITY) return false;
    std::memcpy(gPath + folderLength, USB_LIBRARY_NAME, sizeof USB_LIBRARY_NAME);
    return true;
}

}  // namespace

const LibraryLoader SYSTEM_LIBRARY_LOADER = {SystemLoadLibraryEx, SystemProgramFileName, SystemLastError};

HMODULE LoadUsbLibraryModule(const LibraryLoader& loader) {
    HMODULE module =
        loader.loadLibraryEx(USB_LIBRARY_NAME, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || loader.lastError() != ERROR_INVALID_PARAMETER) return module;
    if (!LibraryPathBesideProgram(loader)) return nullptr;
    return loader.loadLibraryEx(gPath, 0);
}

bool BindUsbLibrary() {
    UnbindUsbLibrary();
    if (!gModule) gModule = LoadUsbLibraryModule(SYSTEM_LIBRARY_LOADER);
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
