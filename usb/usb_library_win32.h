// Binding of the USB device library on Windows.
#pragma once

#include <windows.h>

// Loads SiUSBXp.dll from the program's own folder or the system folder
// (never from the current directory) and fills gUsb by ordinal. On a
// missing library or any missing ordinal nothing is bound: every operation
// keeps failing with USB_NOT_BOUND. Returns whether the table was bound.
bool BindUsbLibrary();

// The system calls the library is loaded with, so that a test can play a
// Windows that refuses the search flags.
struct LibraryLoader {
    HMODULE (*loadLibraryEx)(const wchar_t* name, DWORD flags);
    // The full path of the program's own file, as GetModuleFileNameW(nullptr, ...).
    DWORD (*programFileName)(wchar_t* buffer, DWORD capacity);
    DWORD (*lastError)();
};

// The loader of the running system.
extern const LibraryLoader SYSTEM_LIBRARY_LOADER;

// Loads SiUSBXp.dll with the search limited to the program's folder and the
// system folder. Windows 7 without the update that added those flags
// refuses them with ERROR_INVALID_PARAMETER; then the library is loaded by
// the full path of the program's own folder. Never by bare name, which
// would search the current directory and PATH. Returns nullptr when
// neither loads.
HMODULE LoadUsbLibraryModule(const LibraryLoader& loader);
