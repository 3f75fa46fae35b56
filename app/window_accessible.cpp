#include "app/window_accessible.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "app/win32_texts.h"

namespace {

constexpr UINT_PTR STATUS_TIMER = 1;

// The calls the status object needs from oleacc.dll and oleaut32.dll, found
// at run time in the system folder: oleacc.dll is not one of the DLLs that
// Windows always takes from there, and as an import it would be looked for
// beside the program first.
struct AccessibilityCalls {
    HRESULT(WINAPI* createStdAccessibleObject)(HWND window, LONG objectId, REFIID iid, void** object);
    LRESULT(WINAPI* lresultFromObject)(REFIID iid, WPARAM wParam, IUnknown* object);
    BSTR(WINAPI* sysAllocStringLen)(const OLECHAR* text, UINT length);
    HRESULT(WINAPI* dispInvoke)
    (void* object, ITypeInfo* typeInfo, DISPID member, WORD flags, DISPPARAMS* parameters, VARIANT* result,
     EXCEPINFO* exception, UINT* argumentError);
};

struct CallRow {
    const wchar_t* module;
    const char* name;
};
// In the order of AccessibilityCalls.
constexpr CallRow CALL_ROWS[] = {
    {L"oleacc.dll", "CreateStdAccessibleObject"},
    {L"oleacc.dll", "LresultFromObject"},
    {L"oleaut32.dll", "SysAllocStringLen"},
    {L"oleaut32.dll", "DispInvoke"},
};
static_assert(sizeof(AccessibilityCalls) == std::size(CALL_ROWS) * sizeof(FARPROC), "one row per call");

enum class Binding { NotTried, Bound, Failed };
Binding gBinding = Binding::NotTried;
AccessibilityCalls gCalls = {};

// From the system folder only. Windows 7 without the update that added the
// search flags refuses them with ERROR_INVALID_PARAMETER; the full path in
// the system folder then names the same file.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    wchar_t path[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryW(path, MAX_PATH);
    const size_t nameLength = std::wcslen(name);
    if (folderLength == 0 || folderLength + 1 + nameLength >= MAX_PATH) return nullptr;
    path[folderLength] = L'\\';
    std::wmemcpy(path + folderLength + 1, name, nameLength + 1);
    return LoadLibraryW(path);
}

// Binds every call or none, once; the libraries stay loaded, since the
// objects made with them live in them.
bool BindCalls() {
    if (gBinding == Binding::NotTried) {
        FARPROC found[std::size(CALL_ROWS)] = {};
        bool all = true;
        for (size_t i = 0; i < std::size(CALL_ROWS); ++i) {
            const HMODULE module = LoadSystemLibrary(CALL_ROWS[i].module);
            found[i] = module ? GetProcAddress(module, CALL_ROWS[i].name) : nullptr;
            all = all && found[i];
        }
        if (all) std::memcpy(&gCalls, found, sizeof gCalls);
        gBinding = all ? Binding::Bound : Binding::Failed;
    }
    return gBinding == Binding::Bound;
}

struct CollectedTexts {
    WindowText texts[WINDOW_TEXT_PLACES];
    int count;
};

void Collect(const WindowText& text, void* context) {
    CollectedTexts& collected = *static_cast<CollectedTexts*>(context);
    if (collected.count < WINDOW_TEXT_PLACES) collected.texts[collected.count++] = text;
}

// The window's texts in reading order, top to bottom and then left to
// right, each without the blanks that pad it, one blank between two; empty
// when the window shows none.
std::wstring StatusText() {
    CollectedTexts collected = {};
    ReadWindowTexts(Collect, &collected);
    std::sort(collected.texts, collected.texts + collected.count,
              [](const WindowText& a, const WindowText& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    std::wstring status;
    for (int i = 0; i < collected.count; ++i) {
        const std::wstring text(collected.texts[i].text, static_cast<size_t>(collected.texts[i].count));
        const size_t first = text.find_first_not_of(L' ');
        if (first == std::wstring::npos) continue;
        if (!status.empty()) status += L' ';
        status.append(text, first, text.find_last_not_of(L' ') + 1 - first);
    }
    return status;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The client area's standard object, answering with the status as its name
// and a status bar as its role. Every other question, about the object or
// its children, is the standard object's.
class StatusObject final : public IAccessible {
   public:
    // Takes over the reference to `standard`.
    explicit StatusObject(IAccessible* standard) : standard_(standard) {}
    StatusObject(const StatusObject&) = delete;
    StatusObject& operator=(const StatusObject&) = delete;

    // Its own IUnknown, IDispatch and IAccessible. Other interfaces of the
    // standard object (IOleWindow, IEnumVARIANT) are that object's: they
    // describe the same window.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, ACCESSIBLE_IID)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return standard_->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override {
        return standard_->GetTypeInfo(index, locale, typeInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    // Through this object's own methods, so that a client calling by
    // DISPID hears the same name and role.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        ITypeInfo* typeInfo = nullptr;
        const HRESULT found = standard_->GetTypeInfo(0, locale, &typeInfo);
        if (FAILED(found)) return found;
        const HRESULT invoked = gCalls.dispInvoke(static_cast<IAccessible*>(this), typeInfo, member, flags, parameters,
                                                  result, exception, argumentError);
        typeInfo->Release();
        return invoked;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return standard_->get_accName(child, name);
        if (!name) return E_POINTER;
        const std::wstring status = StatusText();
        *name = gCalls.sysAllocStringLen(status.c_str(), static_cast<UINT>(status.size()));
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!IsSelf(child)) return standard_->get_accRole(child, role);
        if (!role) return E_POINTER;
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_STATUSBAR;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return standard_->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return standard_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* helpFile, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(helpFile, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

   private:
    ~StatusObject() { standard_->Release(); }

    LONG references_ = 1;
    IAccessible* standard_;
};

// What was last announced, and by which window. A window that has
// announced nothing yet was read as empty.
HWND gAnnouncedWindow = nullptr;
std::wstring gAnnounced;

}  // namespace

LRESULT WindowStatusObject(HWND window, WPARAM wParam, LPARAM lParam) {
    // The object's id is in the low 32 bits; on 64-bit Windows the high
    // ones may come sign-extended or not.
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT) || !BindCalls()) return 0;
    IAccessible* standard = nullptr;
    if (FAILED(gCalls.createStdAccessibleObject(window, OBJID_CLIENT, ACCESSIBLE_IID,
                                                reinterpret_cast<void**>(&standard))) ||
        !standard)
        return 0;
    StatusObject* object = new (std::nothrow) StatusObject(standard);
    if (!object) {
        standard->Release();
        return 0;
    }
    const LRESULT result = gCalls.lresultFromObject(ACCESSIBLE_IID, wParam, object);
    object->Release();
    // A reference to the object is positive; a failure, a negative HRESULT.
    return result > 0 ? result : 0;
}

void WindowStatusChanged(HWND window) { SetTimer(window, STATUS_TIMER, STATUS_SETTLE_MS, nullptr); }

bool WindowStatusTimer(HWND window, WPARAM timer) {
    if (timer != STATUS_TIMER) return false;
    KillTimer(window, STATUS_TIMER);
    std::wstring status = StatusText();
    if (window != gAnnouncedWindow) {
        gAnnouncedWindow = window;
        gAnnounced.clear();
    }
    if (status != gAnnounced) {
        gAnnounced = std::move(status);
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
    }
    return true;
}
