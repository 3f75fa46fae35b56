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
// The library's full path for the fallback loads; too large for the stack,
// used only while binding, which happens on one thread.
wchar_t gPath[PATH_CAPACITY];

HMODULE SystemLoadLibraryEx(const wchar_t* name, DWORD flags) { return LoadLibraryExW(name, nullptr, flags); }
DWORD SystemProgramFileName(wchar_t* buffer, DWORD capacity) { return GetModuleFileNameW(nullptr, buffer, capacity); }
DWORD SystemFolder(wchar_t* buffer, DWORD capacity) { return GetSystemDirectoryW(buffer, capacity); }
DWORD SystemLastError() { return GetLastError(); }
bool SystemFileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

WORD SystemImageMachine(const wchar_t* path) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    WORD machine = 0;
    IMAGE_DOS_HEADER dos{};
    DWORD read = 0;
    if (ReadFile(file, &dos, sizeof dos, &read, nullptr) && read == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        dos.e_lfanew > 0) {
        struct {
            DWORD signature;
            IMAGE_FILE_HEADER header;
        } nt{};
        LARGE_INTEGER at{};
        at.QuadPart = dos.e_lfanew;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, &nt, sizeof nt, &read, nullptr) &&
            read == sizeof nt && nt.signature == IMAGE_NT_SIGNATURE)
            machine = nt.header.Machine;
    }
    CloseHandle(file);
    return machine;
}

// Puts the library's name after the folder gPath[0, folderLength) holds,
// with a backslash between them. False when the path would not fit.
bool AppendLibraryName(size_t folderLength) {
    if (folderLength == 0) return false;
    if (gPath[folderLength - 1] != L'\\') {
        if (folderLength + 1 >= PATH_CAPACITY) return false;
        gPath[folderLength++] = L'\\';
    }
    constexpr size_t nameLength = sizeof USB_LIBRARY_NAME / sizeof USB_LIBRARY_NAME[0];  // with its NUL
    if (folderLength + nameLength > PATH_CAPACITY) return false;
    std::memcpy(gPath + folderLength, USB_LIBRARY_NAME, sizeof USB_LIBRARY_NAME);
    return true;
}

// The library's path in the program's own folder. False when the program's
// path does not fit (GetModuleFileNameW then fills the whole buffer and may
// leave it without its NUL), holds no folder, or the result would not fit.
bool LibraryPathBesideProgram(const LibraryLoader& loader) {
    const DWORD length = loader.programFileName(gPath, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) return false;
    gPath[length] = L'\0';
    const wchar_t* lastSlash = std::wcsrchr(gPath, L'\\');
    if (!lastSlash) return false;
    return AppendLibraryName(static_cast<size_t>(lastSlash - gPath) + 1);
}

// The library's path in the system folder. GetSystemDirectoryW returns the
// size it needs, NUL included, when the buffer is too small.
bool LibraryPathInSystemFolder(const LibraryLoader& loader) {
    const DWORD length = loader.systemFolder(gPath, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) return false;
    gPath[length] = L'\0';
    return AppendLibraryName(length);
}

// Why nothing loaded: the first of the two paths that holds a file could
// not be loaded (with that load's error), or neither holds one.
void ExplainFailedLoad(const LibraryLoader& loader, const std::wstring (&paths)[2], const DWORD (&errors)[2],
                       UsbLibraryProblem* problem) {
    *problem = UsbLibraryProblem{};
    for (size_t i = 0; i < 2; ++i) {
        if (paths[i].empty() || !loader.fileExists(paths[i].c_str())) continue;
        problem->fault = UsbLibraryFault::NotLoadable;
        problem->path = paths[i];
        problem->error = errors[i];
        problem->machine = loader.imageMachine(paths[i].c_str());
        return;
    }
    problem->fault = UsbLibraryFault::NotFound;
    size_t searched = 0;
    for (const std::wstring& path : paths)
        if (!path.empty()) problem->searched[searched++] = path;
    problem->error = errors[1] ? errors[1] : errors[0];
}

}  // namespace

const LibraryLoader SYSTEM_LIBRARY_LOADER = {
    .loadLibraryEx = SystemLoadLibraryEx,
    .programFileName = SystemProgramFileName,
    .systemFolder = SystemFolder,
    .lastError = SystemLastError,
    .fileExists = SystemFileExists,
    .imageMachine = SystemImageMachine,
};

HMODULE LoadUsbLibraryModule(const LibraryLoader& loader, UsbLibraryProblem* problem) {
    HMODULE module =
        loader.loadLibraryEx(USB_LIBRARY_NAME, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module) return module;
    const DWORD searchError = loader.lastError();
    std::wstring paths[2];
    DWORD errors[2] = {searchError, searchError};
    if (searchError == ERROR_INVALID_PARAMETER) {
        // The same two folders in the same order, each by its full path.
        if (LibraryPathBesideProgram(loader)) {
            paths[0] = gPath;
            module = loader.loadLibraryEx(gPath, 0);
            if (!module) errors[0] = loader.lastError();
        }
        if (!module && LibraryPathInSystemFolder(loader)) {
            paths[1] = gPath;
            module = loader.loadLibraryEx(gPath, 0);
            if (!module) errors[1] = loader.lastError();
        }
        if (module) return module;
    } else if (problem) {
        // Where the search-limited load looked, to say which file failed.
        if (LibraryPathBesideProgram(loader)) paths[0] = gPath;
        if (LibraryPathInSystemFolder(loader)) paths[1] = gPath;
    }
    if (problem) ExplainFailedLoad(loader, paths, errors, problem);
    return nullptr;
}

std::wstring BoundUsbLibraryFile() {
    if (!gModule) return std::wstring();
    const DWORD length = GetModuleFileNameW(gModule, gPath, PATH_CAPACITY);
    return length > 0 && length < PATH_CAPACITY ? std::wstring(gPath, length) : std::wstring();
}

bool BindUsbLibrary(UsbLibraryProblem* problem) {
    UnbindUsbLibrary();
    if (!gModule) gModule = LoadUsbLibraryModule(SYSTEM_LIBRARY_LOADER, problem);
    if (!gModule) return false;

    FARPROC rows[ROW_COUNT] = {};
    for (size_t i = 0; i < ROW_COUNT; ++i) {
        rows[i] = GetProcAddress(gModule, MAKEINTRESOURCEA(USB_ORDINALS[i]));
        if (!rows[i]) {
            // A partial table is never used. The ordinal goes to the debugger.
            char note[64];
            wsprintfA(note, "SiUSBXp.dll: ordinal %d missing\n", USB_ORDINALS[i]);
            OutputDebugStringA(note);
            if (problem) {
                *problem = UsbLibraryProblem{};
                problem->fault = UsbLibraryFault::OrdinalMissing;
                problem->ordinal = USB_ORDINALS[i];
                const DWORD length = GetModuleFileNameW(gModule, gPath, PATH_CAPACITY);
                if (length > 0 && length < PATH_CAPACITY) problem->path.assign(gPath, length);
            }
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
