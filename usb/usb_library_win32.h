// Binding of the USB device library on Windows.
#pragma once

#include <windows.h>

#include <string>

// Why the library could not be bound.
enum class UsbLibraryFault { None, NotFound, NotLoadable, OrdinalMissing };

struct UsbLibraryProblem {
    UsbLibraryFault fault = UsbLibraryFault::None;
    // NotFound: the full paths looked at, in order (the program's folder,
    // then the system folder; one may be missing when its folder is unknown).
    std::wstring searched[2];
    // NotLoadable, OrdinalMissing: the library's file.
    std::wstring path;
    // NotFound, NotLoadable: the Windows error code of the load.
    DWORD error = 0;
    // NotLoadable: the machine type in the file's PE header
    // (IMAGE_FILE_MACHINE_I386, ..._AMD64), 0 when it has none.
    WORD machine = 0;
    // OrdinalMissing: the first ordinal the library lacks.
    int ordinal = 0;
};

// Loads SiUSBXp.dll from the program's own folder or the system folder
// (never from the current directory) and fills gUsb by ordinal. On a
// missing library or any missing ordinal nothing is bound: every operation
// keeps failing with USB_NOT_BOUND. Returns whether the table was bound;
// when not, and `problem` is given, says why there.
bool BindUsbLibrary(UsbLibraryProblem* problem = nullptr);

// The bound library's full path, or empty when none is bound.
std::wstring BoundUsbLibraryFile();
// The same in UTF-8.
std::string BoundUsbLibraryPath();
// Why the library could not be bound, in words, with what to do: e.g.
// "SiUSBXp.dll was not found: looked for A and B; put the library beside
// `programFile`" (usb/usb_library_words_win32.cpp).
std::string UsbLibraryProblemWords(const UsbLibraryProblem& problem, const char* programFile);

// The system calls the library is loaded with, so that a test can play a
// Windows that refuses the search flags.
struct LibraryLoader {
    HMODULE (*loadLibraryEx)(const wchar_t* name, DWORD flags);
    // The full path of the program's own file, as GetModuleFileNameW(nullptr, ...).
    DWORD (*programFileName)(wchar_t* buffer, DWORD capacity);
    // The system folder, as GetSystemDirectoryW.
    DWORD (*systemFolder)(wchar_t* buffer, DWORD capacity);
    DWORD (*lastError)();
    // Whether a file is at `path` (only to say why a load failed).
    bool (*fileExists)(const wchar_t* path);
    // The machine type in the PE header of the file at `path`, 0 when it
    // has none.
    WORD (*imageMachine)(const wchar_t* path);
};

// The loader of the running system.
extern const LibraryLoader SYSTEM_LIBRARY_LOADER;

// Loads SiUSBXp.dll with the search limited to the program's folder and the
// system folder. Windows 7 without the update that added those flags
// refuses them with ERROR_INVALID_PARAMETER; then the library is loaded by
// its full path in the program's own folder, else in the system folder.
// Never by bare name, which would search the current directory and PATH.
// Returns nullptr when nothing loads, with the reason in `problem` when
// given: NotFound when no file of that name is in either folder, else
// NotLoadable with the first such file.
HMODULE LoadUsbLibraryModule(const LibraryLoader& loader, UsbLibraryProblem* problem = nullptr);
