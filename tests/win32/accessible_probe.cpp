// Reads, for the Wine tests, what a screen reader hears from a window's
// client area, from another process as a screen reader does:
//
//   accessible_probe.exe TITLE
//       prints, for the top-level window with that exact title:
//         name TEXT     the client object's name (UTF-8; nothing after the
//                       blank when it is empty)
//         role N        its role (ROLE_SYSTEM_STATUSBAR is 23)
//   accessible_probe.exe --watch SECONDS TITLE
//       prints "watching" once its hook is set, then, for each name change
//       that window announces for its client area, until the window is gone
//       or SECONDS have passed:
//         namechange TEXT   the client object's name when the event arrived
//
// Exits 1 when there is no such window, or its object or hook cannot be
// had; 2 on a wrong command line.
#include <oleacc.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// IID_IAccessible; MinGW's import library gives the address of an import
// thunk for it, not the GUID.
constexpr IID ACCESSIBLE_IID = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

HWND gWindow = nullptr;

std::string Utf8(const wchar_t* text, int length) {
    if (length <= 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

VARIANT Self() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

IAccessible* ClientObject(HWND window) {
    IAccessible* object = nullptr;
    const HRESULT result = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), ACCESSIBLE_IID,
                                                      reinterpret_cast<void**>(&object));
    if (FAILED(result)) {
        std::fprintf(stderr, "AccessibleObjectFromWindow failed: 0x%08lX\n", static_cast<unsigned long>(result));
        return nullptr;
    }
    return object;
}

// The client object's name; false when it cannot be read.
bool NameOf(IAccessible* object, std::string* name) {
    BSTR text = nullptr;
    const HRESULT result = object->get_accName(Self(), &text);
    if (FAILED(result)) {
        std::fprintf(stderr, "get_accName failed: 0x%08lX\n", static_cast<unsigned long>(result));
        return false;
    }
    *name = text ? Utf8(text, static_cast<int>(SysStringLen(text))) : "";
    SysFreeString(text);
    return true;
}

int Read(HWND window) {
    IAccessible* object = ClientObject(window);
    if (!object) return 1;
    std::string name;
    VARIANT role;
    VariantInit(&role);
    const bool named = NameOf(object, &name);
    const HRESULT roleResult = object->get_accRole(Self(), &role);
    object->Release();
    if (!named) return 1;
    std::printf("name %s\n", name.c_str());
    if (FAILED(roleResult) || role.vt != VT_I4) {
        std::fprintf(stderr, "get_accRole failed: 0x%08lX\n", static_cast<unsigned long>(roleResult));
        return 1;
    }
    std::printf("role %ld\n", static_cast<long>(role.lVal));
    return 0;
}

void CALLBACK OnNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG objectId, LONG childId, DWORD, DWORD) {
    if (window != gWindow || objectId != OBJID_CLIENT || childId != CHILDID_SELF) return;
    std::string name = "(unreadable)";
    if (IAccessible* object = ClientObject(window)) {
        NameOf(object, &name);
        object->Release();
    }
    std::printf("namechange %s\n", name.c_str());
    std::fflush(stdout);
}

// Out of context: the events come to this thread as it handles its
// messages. (Wine 8 delivers none to a hook that also asks to skip its own
// process.)
int Watch(HWND window, DWORD seconds) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnNameChange,
                                         process, 0, WINEVENT_OUTOFCONTEXT);
    if (!hook) {
        std::fprintf(stderr, "SetWinEventHook failed: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    while (IsWindow(window) && GetTickCount() - start < seconds * 1000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    UnhookWinEvent(hook);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool watch = argc == 4 && std::strcmp(argv[1], "--watch") == 0;
    if (argc != 2 && !watch) {
        std::fprintf(stderr, "usage: accessible_probe.exe [--watch SECONDS] TITLE\n");
        return 2;
    }
    const char* title = argv[argc - 1];
    gWindow = FindWindowA(nullptr, title);
    if (!gWindow) {
        std::fprintf(stderr, "no window titled \"%s\"\n", title);
        return 1;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "COM not available\n");
        return 1;
    }
    const int code = watch ? Watch(gWindow, static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10))) : Read(gWindow);
    CoUninitialize();
    return code;
}
