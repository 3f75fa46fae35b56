// Loading the USB library on Windows, against a scripted loader: the
// search-limited load first; on a Windows that refuses the search flags the
// full path beside the program; never a bare name that would search the
// current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/usb_library_win32.h"

namespace {

constexpr DWORD SEARCH_FLAGS = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
const HMODULE SEARCHED_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000));
const HMODULE FULL_PATH_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x20000));

struct LoadCall {
    std::wstring name;
    DWORD flags;
};

// What the scripted system does.
struct Script {
    DWORD searchError = 0;  // 0: the search-limited load succeeds
    bool fullPathLoads = true;
    // The program's path; built from the buffer's capacity when empty.
    std::wstring programPath;
    std::wstring (*programPathFor)(DWORD capacity) = nullptr;
};

Script gScript;
std::vector<LoadCall> gCalls;
DWORD gLastError = 0;
DWORD gCapacity = 0;  // the buffer the loader offered for the program's path

HMODULE ScriptedLoad(const wchar_t* name, DWORD flags) {
    gCalls.push_back({name, flags});
    if (flags == SEARCH_FLAGS) {
        gLastError = gScript.searchError;
        return gScript.searchError == 0 ? SEARCHED_MODULE : nullptr;
    }
    gLastError = gScript.fullPathLoads ? 0 : ERROR_MOD_NOT_FOUND;
    return gScript.fullPathLoads ? FULL_PATH_MODULE : nullptr;
}

// As GetModuleFileNameW on Vista and later: a path that does not fit is cut
// to capacity - 1 characters with a NUL, and the capacity is returned.
DWORD ScriptedProgramFileName(wchar_t* buffer, DWORD capacity) {
    gCapacity = capacity;
    const std::wstring path = gScript.programPathFor ? gScript.programPathFor(capacity) : gScript.programPath;
    if (path.size() >= capacity) {
        path.copy(buffer, capacity - 1);
        buffer[capacity - 1] = L'\0';
        gLastError = ERROR_INSUFFICIENT_BUFFER;
        return capacity;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

DWORD ScriptedLastError() { return gLastError; }

const LibraryLoader SCRIPTED_LOADER = {ScriptedLoad, ScriptedProgramFileName, ScriptedLastError};

// A program path of `capacity - 12` characters up to its last backslash:
// with "SiUSBXp.dll" and its NUL it fills the capacity exactly.
std::wstring FolderFillingTheBuffer(DWORD capacity) {
    return L"C:\\" + std::wstring(capacity - 12 - 4, L'd') + L"\\" + L"p.exe";
}
// One character longer: the library's path would not fit.
std::wstring FolderOneTooLong(DWORD capacity) {
    return L"C:\\" + std::wstring(capacity - 12 - 3, L'd') + L"\\" + L"p.exe";
}
// Longer than the buffer: cut, it would name a folder that is not the
// program's own.
std::wstring PathLongerThanTheBuffer(DWORD capacity) {
    return L"C:\\short\\" + std::wstring(capacity, L'd') + L"\\LumarisUpdate.exe";
}

std::wstring BesideProgramFiles(DWORD) { return L"C:\\Program Files\\Lumaris Update\\SiUSBXp.dll"; }
std::wstring BesideUncFolder(DWORD) { return L"\\\\server\\share\\tools\\SiUSBXp.dll"; }
std::wstring BesideFillingFolder(DWORD capacity) {
    const std::wstring program = FolderFillingTheBuffer(capacity);
    return program.substr(0, program.rfind(L'\\') + 1) + L"SiUSBXp.dll";
}

TEST(UsbLibraryLoader, SearchLimitedFirstThenTheProgramsFolderOnlyWhenTheFlagsAreRefused) {
    struct Case {
        const char* name;
        Script script;
        HMODULE module;
        // The one full path tried after the search-limited load, from the
        // capacity the loader offered; nullptr: no second attempt.
        std::wstring (*fullPath)(DWORD capacity);
    };
    const std::wstring program = L"C:\\Program Files\\Lumaris Update\\LumarisUpdate.exe";
    const DWORD refused = ERROR_INVALID_PARAMETER;
    const std::vector<Case> cases = {
        {"search flags understood", {0, true, program, nullptr}, SEARCHED_MODULE, nullptr},
        {"flags refused: loaded beside the program", {refused, true, program, nullptr}, FULL_PATH_MODULE,
         BesideProgramFiles},
        {"flags refused, no library beside the program", {refused, false, program, nullptr}, nullptr,
         BesideProgramFiles},
        {"library missing: no second attempt", {ERROR_MOD_NOT_FOUND, true, program, nullptr}, nullptr, nullptr},
        {"access denied: no second attempt", {ERROR_ACCESS_DENIED, true, program, nullptr}, nullptr, nullptr},
        {"program path without a folder", {refused, true, L"LumarisUpdate.exe", nullptr}, nullptr, nullptr},
        {"program path unknown", {refused, true, L"", nullptr}, nullptr, nullptr},
        {"program path cut by the buffer", {refused, true, L"", PathLongerThanTheBuffer}, nullptr, nullptr},
        {"library path one character too long", {refused, true, L"", FolderOneTooLong}, nullptr, nullptr},
        {"library path filling the buffer", {refused, true, L"", FolderFillingTheBuffer}, FULL_PATH_MODULE,
         BesideFillingFolder},
        {"UNC folder", {refused, true, L"\\\\server\\share\\tools\\LumarisUpdate.exe", nullptr}, FULL_PATH_MODULE,
         BesideUncFolder},
    };
    for (const auto& c : cases) {
        gScript = c.script;
        gCalls.clear();
        gLastError = 0;
        gCapacity = 0;
        EXPECT_EQ(LoadUsbLibraryModule(SCRIPTED_LOADER), c.module) << c.name;

        ASSERT_FALSE(gCalls.empty()) << c.name;
        EXPECT_EQ(gCalls[0].name, L"SiUSBXp.dll") << c.name;
        EXPECT_EQ(gCalls[0].flags, SEARCH_FLAGS) << c.name;
        for (size_t i = 1; i < gCalls.size(); ++i) {
            // Never the bare name, nor any relative one, without the flags.
            EXPECT_EQ(gCalls[i].flags, 0u) << c.name;
            EXPECT_NE(gCalls[i].name.find(L'\\'), std::wstring::npos) << c.name;
        }
        if (!c.fullPath) {
            EXPECT_EQ(gCalls.size(), 1u) << c.name;
            continue;
        }
        ASSERT_EQ(gCalls.size(), 2u) << c.name;
        EXPECT_EQ(gCalls[1].name, c.fullPath(gCapacity)) << c.name;
        EXPECT_LE(gCalls[1].name.size() + 1, gCapacity) << c.name;
    }
}

}  // namespace
