// Loading the USB library on Windows, against a scripted loader: the
// search-limited load first; on a Windows that refuses the search flags the
// full paths in the program's folder and in the system folder; never a bare
// name that would search the current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usb/usb_library_win32.h"

namespace {

constexpr DWORD SEARCH_FLAGS = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
const HMODULE SEARCHED_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000));
const wchar_t PROGRAM[] = L"C:\\Program Files\\Lumaris Update\\LumarisUpdate.exe";
const wchar_t BESIDE_PROGRAM[] = L"C:\\Program Files\\Lumaris Update\\SiUSBXp.dll";
const wchar_t SYSTEM_FOLDER[] = L"C:\\Windows\\system32";
const wchar_t IN_SYSTEM_FOLDER[] = L"C:\\Windows\\system32\\SiUSBXp.dll";

struct LoadCall {
    std::wstring name;
    DWORD flags;
};

// What the scripted system does.
struct Script {
    DWORD searchError = 0;  // 0: the search-limited load succeeds
    // The program's path, or a function making it from the buffer's capacity.
    std::wstring programPath = PROGRAM;
    std::wstring (*programPathFor)(DWORD capacity) = nullptr;
    std::wstring systemFolder = SYSTEM_FOLDER;
    std::vector<std::wstring> loadable;  // full paths that load
};

Script gScript;
// Full paths that hold a file that does not load (ERROR_BAD_EXE_FORMAT), and
// the machine type in its header.
std::vector<std::wstring> gBroken;
WORD gBrokenMachine = 0;
std::vector<LoadCall> gCalls;
DWORD gLastError = 0;
DWORD gCapacity = 0;  // the buffer the loader offered for the program's path

std::wstring FolderFillingTheBuffer(DWORD capacity);

// L"<filling>" in a case stands for the library's path beside
// FolderFillingTheBuffer's program, which depends on the capacity the
// loader offers.
std::wstring Resolved(const std::wstring& path) {
    if (path != L"<filling>") return path;
    const std::wstring program = FolderFillingTheBuffer(gCapacity);
    return program.substr(0, program.rfind(L'\\') + 1) + L"SiUSBXp.dll";
}

// A full path that loads gives a module of its own: its place in the list.
HMODULE ModuleFor(size_t index) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x20000 + 0x10000 * index)); }

HMODULE ScriptedLoad(const wchar_t* name, DWORD flags) {
    gCalls.push_back({name, flags});
    if (flags == SEARCH_FLAGS) {
        gLastError = gScript.searchError;
        return gScript.searchError == 0 ? SEARCHED_MODULE : nullptr;
    }
    for (size_t i = 0; i < gScript.loadable.size(); ++i) {
        if (Resolved(gScript.loadable[i]) == name) {
            gLastError = 0;
            return ModuleFor(i);
        }
    }
    for (const auto& broken : gBroken) {
        if (broken == name) {
            gLastError = ERROR_BAD_EXE_FORMAT;
            return nullptr;
        }
    }
    gLastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
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

// As GetSystemDirectoryW: the length without the NUL, or 0 when unknown.
DWORD ScriptedSystemFolder(wchar_t* buffer, DWORD capacity) {
    const std::wstring& folder = gScript.systemFolder;
    if (folder.size() >= capacity) return static_cast<DWORD>(folder.size() + 1);
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = L'\0';
    return static_cast<DWORD>(folder.size());
}

DWORD ScriptedLastError() { return gLastError; }

bool ScriptedFileExists(const wchar_t* path) {
    for (const auto& list : {gScript.loadable, gBroken})
        for (const auto& file : list)
            if (Resolved(file) == path) return true;
    return false;
}

WORD ScriptedImageMachine(const wchar_t* path) {
    for (const auto& broken : gBroken)
        if (broken == path) return gBrokenMachine;
    return 0;
}

const LibraryLoader SCRIPTED_LOADER = {ScriptedLoad,      ScriptedProgramFileName, ScriptedSystemFolder,
                                       ScriptedLastError, ScriptedFileExists,      ScriptedImageMachine};

// A program path of `capacity - 12` characters up to its last backslash:
// with "SiUSBXp.dll" and its NUL it fills the capacity exactly.
std::wstring FolderFillingTheBuffer(DWORD capacity) {
    return L"C:\\" + std::wstring(capacity - 12 - 4, L'd') + L"\\" + L"p.exe";
}
// One character longer: the library's path would not fit.
std::wstring FolderOneTooLong(DWORD capacity) { return L"C:\\" + std::wstring(capacity - 12 - 3, L'd') + L"\\p.exe"; }
// Longer than the buffer: cut, it would name a folder that is not the
// program's own.
std::wstring PathLongerThanTheBuffer(DWORD capacity) {
    return L"C:\\short\\" + std::wstring(capacity, L'd') + L"\\LumarisUpdate.exe";
}

TEST(UsbLibraryLoader, SearchLimitedFirstThenTheTwoFoldersByFullPathOnlyWhenTheFlagsAreRefused) {
    struct Case {
        const char* name;
        Script script;
        // The full paths tried after the search-limited load, in order;
        // "<filling>" is the path beside FolderFillingTheBuffer's program.
        std::vector<std::wstring> tried;
        // The module returned: 0 none, 1 the searched one, 2 + i the one
        // of script.loadable[i].
        int module;
    };
    const DWORD refused = ERROR_INVALID_PARAMETER;
    const std::vector<Case> cases = {
        {"search flags understood", {0, PROGRAM, nullptr, SYSTEM_FOLDER, {BESIDE_PROGRAM}}, {}, 1},
        {"flags refused: loaded beside the program",
         {refused, PROGRAM, nullptr, SYSTEM_FOLDER, {BESIDE_PROGRAM, IN_SYSTEM_FOLDER}},
         {BESIDE_PROGRAM},
         2},
        {"flags refused: loaded from the system folder",
         {refused, PROGRAM, nullptr, SYSTEM_FOLDER, {IN_SYSTEM_FOLDER}},
         {BESIDE_PROGRAM, IN_SYSTEM_FOLDER},
         2},
        {"flags refused, the library nowhere",
         {refused, PROGRAM, nullptr, SYSTEM_FOLDER, {}},
         {BESIDE_PROGRAM, IN_SYSTEM_FOLDER},
         0},
        {"library missing: no second attempt", {ERROR_MOD_NOT_FOUND, PROGRAM, nullptr, SYSTEM_FOLDER, {}}, {}, 0},
        {"access denied: no second attempt",
         {ERROR_ACCESS_DENIED, PROGRAM, nullptr, SYSTEM_FOLDER, {BESIDE_PROGRAM}},
         {},
         0},
        {"program path without a folder",
         {refused, L"LumarisUpdate.exe", nullptr, SYSTEM_FOLDER, {L"SiUSBXp.dll", L"\\SiUSBXp.dll"}},
         {IN_SYSTEM_FOLDER},
         0},
        {"program path unknown", {refused, L"", nullptr, SYSTEM_FOLDER, {}}, {IN_SYSTEM_FOLDER}, 0},
        {"program path cut by the buffer",
         {refused, L"", PathLongerThanTheBuffer, SYSTEM_FOLDER, {L"C:\\short\\SiUSBXp.dll"}},
         {IN_SYSTEM_FOLDER},
         0},
        {"library path one character too long",
         {refused, L"", FolderOneTooLong, SYSTEM_FOLDER, {}},
         {IN_SYSTEM_FOLDER},
         0},
        {"library path filling the buffer",
         {refused, L"", FolderFillingTheBuffer, SYSTEM_FOLDER, {L"<filling>"}},
         {L"<filling>"},
         2},
        {"system folder unknown",
         {refused, PROGRAM, nullptr, L"", {L"SiUSBXp.dll", L"\\SiUSBXp.dll"}},
         {BESIDE_PROGRAM},
         0},
        {"system folder as a drive's root",
         {refused, PROGRAM, nullptr, L"C:\\", {L"C:\\SiUSBXp.dll"}},
         {BESIDE_PROGRAM, L"C:\\SiUSBXp.dll"},
         2},
        {"UNC folder",
         {refused,
          L"\\\\server\\share\\tools\\LumarisUpdate.exe",
          nullptr,
          SYSTEM_FOLDER,
          {L"\\\\server\\share\\tools\\SiUSBXp.dll"}},
         {L"\\\\server\\share\\tools\\SiUSBXp.dll"},
         2},
    };
    for (const auto& c : cases) {
        gScript = c.script;
        gBroken.clear();
        gCalls.clear();
        gLastError = 0;
        gCapacity = 0;
        const HMODULE module = LoadUsbLibraryModule(SCRIPTED_LOADER);
        const HMODULE expected = c.module == 0   ? nullptr
                                 : c.module == 1 ? SEARCHED_MODULE
                                                 : ModuleFor(static_cast<size_t>(c.module - 2));
        EXPECT_EQ(module, expected) << c.name;

        ASSERT_FALSE(gCalls.empty()) << c.name;
        EXPECT_EQ(gCalls[0].name, L"SiUSBXp.dll") << c.name;
        EXPECT_EQ(gCalls[0].flags, SEARCH_FLAGS) << c.name;
        std::vector<std::wstring> fullPaths;
        for (size_t i = 1; i < gCalls.size(); ++i) {
            // Never the bare name, nor any relative one, without the flags.
            EXPECT_EQ(gCalls[i].flags, 0u) << c.name;
            const std::wstring& name = gCalls[i].name;
            const bool absolute =
                (name.size() > 3 && name[1] == L':' && name[2] == L'\\') || name.rfind(L"\\\\", 0) == 0;
            EXPECT_TRUE(absolute) << c.name;
            EXPECT_LT(name.size(), gCapacity ? gCapacity : 32768u) << c.name;
            fullPaths.push_back(name);
        }
        std::vector<std::wstring> tried;
        for (const auto& path : c.tried) tried.push_back(Resolved(path));
        EXPECT_EQ(fullPaths, tried) << c.name;
    }
}

// Why nothing loaded, as the console program reports it: the paths looked
// at when no file is there, else the first file that is there with its load's
// error and its machine type.
TEST(UsbLibraryLoader, SaysWhichFileFailedOrWhereItWasLookedFor) {
    struct Case {
        const char* name;
        DWORD searchError;
        std::vector<std::wstring> broken;
        WORD machine;
        UsbLibraryFault fault;
        std::wstring path;  // NotLoadable: the file
        DWORD error;
        std::vector<std::wstring> searched;  // NotFound
    };
    const DWORD refused = ERROR_INVALID_PARAMETER;
    const WORD i386 = IMAGE_FILE_MACHINE_I386;
    const std::vector<Case> cases = {
        {"nowhere",
         ERROR_MOD_NOT_FOUND,
         {},
         0,
         UsbLibraryFault::NotFound,
         L"",
         ERROR_MOD_NOT_FOUND,
         {BESIDE_PROGRAM, IN_SYSTEM_FOLDER}},
        {"flags refused, nowhere",
         refused,
         {},
         0,
         UsbLibraryFault::NotFound,
         L"",
         ERROR_MOD_NOT_FOUND,
         {BESIDE_PROGRAM, IN_SYSTEM_FOLDER}},
        {"32-bit file beside the program",
         ERROR_BAD_EXE_FORMAT,
         {BESIDE_PROGRAM},
         i386,
         UsbLibraryFault::NotLoadable,
         BESIDE_PROGRAM,
         ERROR_BAD_EXE_FORMAT,
         {}},
        {"text file in the system folder",
         ERROR_BAD_EXE_FORMAT,
         {IN_SYSTEM_FOLDER},
         0,
         UsbLibraryFault::NotLoadable,
         IN_SYSTEM_FOLDER,
         ERROR_BAD_EXE_FORMAT,
         {}},
        {"both broken: the program's folder first",
         ERROR_BAD_EXE_FORMAT,
         {IN_SYSTEM_FOLDER, BESIDE_PROGRAM},
         i386,
         UsbLibraryFault::NotLoadable,
         BESIDE_PROGRAM,
         ERROR_BAD_EXE_FORMAT,
         {}},
        {"flags refused, broken in the system folder",
         refused,
         {IN_SYSTEM_FOLDER},
         i386,
         UsbLibraryFault::NotLoadable,
         IN_SYSTEM_FOLDER,
         ERROR_BAD_EXE_FORMAT,
         {}},
    };
    for (const auto& c : cases) {
        gScript = Script{c.searchError, PROGRAM, nullptr, SYSTEM_FOLDER, {}};
        gBroken = c.broken;
        gBrokenMachine = c.machine;
        gCalls.clear();
        UsbLibraryProblem problem;
        problem.ordinal = 99;  // left from an earlier report: must be cleared
        EXPECT_EQ(LoadUsbLibraryModule(SCRIPTED_LOADER, &problem), nullptr) << c.name;
        EXPECT_EQ(problem.fault, c.fault) << c.name;
        EXPECT_EQ(problem.path, c.path) << c.name;
        EXPECT_EQ(problem.error, c.error) << c.name;
        EXPECT_EQ(problem.machine, c.fault == UsbLibraryFault::NotLoadable ? c.machine : 0) << c.name;
        EXPECT_EQ(problem.ordinal, 0) << c.name;
        std::vector<std::wstring> searched;
        for (const auto& path : problem.searched)
            if (!path.empty()) searched.push_back(path);
        EXPECT_EQ(searched, c.searched) << c.name;
        // Saying why loads nothing more: only the search-limited load, or
        // with the flags refused the two full paths.
        for (const auto& call : gCalls) EXPECT_TRUE(call.flags == SEARCH_FLAGS || c.searchError == refused) << c.name;
    }
}

}  // namespace
