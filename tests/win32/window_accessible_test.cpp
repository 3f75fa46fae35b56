// The main window's client area as a screen reader reads it: its name is
// the status the window shows, read from the texts a paint draws, its role a
// status bar, and everything else the standard object's; each change of the
// status is announced once, from the window's thread. Asked for as a screen
// reader asks (AccessibleObjectFromWindow), on the hidden main window.
#include "app/window_accessible.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "app/win32_texts.h"
#include "platform/seams.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"
#include "tests/win32/hidden_main_window.h"
#include "tests/win32/window_run_rig.h"

namespace {

// The worker's texts, as it draws them.
struct Placed {
    int x;
    int y;
    std::wstring text;
};
const Placed WORKING = {10, 10, L"Working                "};
const Placed OK = {10, 10, L"OK           "};
const Placed REBOOT = {10, 40, L"REBOOT                       "};
const Placed ERROR_TEXT = {10, 10, L"ERROR            "};
const Placed NEW_RUN = {-1, -1, L""};  // the record starts again

VARIANT Self() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

// An object of `window` as a screen reader gets it; nullptr when it cannot.
IAccessible* ObjectOf(HWND window, LONG objectId) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(objectId), ACCESSIBLE_IID,
                                          reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

struct Reading {
    HRESULT nameResult;
    std::wstring name;
    LONG role;
};

Reading Read(IAccessible* object) {
    Reading reading = {E_FAIL, L"", -1};
    BSTR name = nullptr;
    reading.nameResult = object->get_accName(Self(), &name);
    if (name) reading.name.assign(name, SysStringLen(name));
    SysFreeString(name);
    VARIANT role;
    VariantInit(&role);
    if (SUCCEEDED(object->get_accRole(Self(), &role)) && role.vt == VT_I4) reading.role = role.lVal;
    VariantClear(&role);
    return reading;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class WindowAccessibleTest : public ::testing::Test {
   protected:
    void SetUp() override {
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ForgetWindowTexts();
    }
    void TearDown() override {
        ForgetWindowTexts();
        if (com_) CoUninitialize();
    }

   private:
    bool com_ = false;
};

TEST_F(WindowAccessibleTest, ItsNameIsTheStatusShownAndItsRoleAStatusBar) {
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    struct Case {
        const char* what;
        std::vector<Placed> drawn;
        std::wstring name;
    };
    const std::vector<Case> cases = {
        {"before an update", {}, L""},
        {"while it runs", {WORKING}, L"Working"},
        {"a run that ends well", {WORKING, OK, REBOOT}, L"OK REBOOT"},
        {"a run that ends in ERROR", {WORKING, ERROR_TEXT}, L"ERROR"},
        {"a new run after one that ended well", {WORKING, OK, REBOOT, NEW_RUN, WORKING}, L"Working"},
        {"a new run whose device was not found", {WORKING, OK, REBOOT, NEW_RUN}, L""},
        // Read from top to bottom, whatever the order of drawing.
        {"the lower text drawn first", {REBOOT, OK}, L"OK REBOOT"},
        {"a text of blanks only", {{10, 10, L"     "}}, L""},
    };
    for (const Case& c : cases) {
        ForgetWindowTexts();
        for (const Placed& p : c.drawn) {
            if (p.x < 0) {
                ForgetWindowTexts();
                continue;
            }
            DrawWindowText(gMainWindow, p.x, p.y, p.text.c_str(), static_cast<int>(p.text.size()));
        }
        IAccessible* client = ObjectOf(gMainWindow, OBJID_CLIENT);
        ASSERT_NE(client, nullptr) << c.what;
        const Reading reading = Read(client);
        client->Release();
        EXPECT_EQ(reading.nameResult, S_OK) << c.what;
        EXPECT_EQ(Narrow(reading.name), Narrow(c.name)) << c.what;
        EXPECT_EQ(reading.role, ROLE_SYSTEM_STATUSBAR) << c.what;
    }
}

// The window itself, and what the client object says besides its name and
// role, are as the system's standard objects say.
TEST_F(WindowAccessibleTest, EverythingElseIsTheStandardObjects) {
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    DrawWindowText(gMainWindow, OK.x, OK.y, OK.text.c_str(), static_cast<int>(OK.text.size()));
    IAccessible* client = ObjectOf(gMainWindow, OBJID_CLIENT);
    IAccessible* standard = nullptr;
    ASSERT_TRUE(SUCCEEDED(
        CreateStdAccessibleObject(gMainWindow, OBJID_CLIENT, ACCESSIBLE_IID, reinterpret_cast<void**>(&standard))));
    ASSERT_NE(client, nullptr);
    ASSERT_NE(client, standard);

    LONG ours[4] = {};
    LONG theirs[4] = {-1, -1, -1, -1};
    EXPECT_EQ(client->accLocation(&ours[0], &ours[1], &ours[2], &ours[3], Self()),
              standard->accLocation(&theirs[0], &theirs[1], &theirs[2], &theirs[3], Self()));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ours[i], theirs[i]) << "location, value " << i;

    VARIANT ourState;
    VARIANT theirState;
    VariantInit(&ourState);
    VariantInit(&theirState);
    EXPECT_EQ(client->get_accState(Self(), &ourState), standard->get_accState(Self(), &theirState));
    EXPECT_EQ(ourState.vt, theirState.vt);
    EXPECT_EQ(ourState.lVal, theirState.lVal) << "state";

    LONG ourChildren = -1;
    LONG theirChildren = -2;
    EXPECT_EQ(client->get_accChildCount(&ourChildren), standard->get_accChildCount(&theirChildren));
    EXPECT_EQ(ourChildren, theirChildren) << "children";

    IDispatch* parent = nullptr;
    EXPECT_EQ(client->get_accParent(&parent), S_OK);
    EXPECT_NE(parent, nullptr) << "the window object above the client area";
    if (parent) parent->Release();

    IOleWindow* oleWindow = nullptr;
    HWND reported = nullptr;
    ASSERT_TRUE(SUCCEEDED(client->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow))));
    EXPECT_TRUE(SUCCEEDED(oleWindow->GetWindow(&reported)));
    EXPECT_EQ(reported, gMainWindow);
    oleWindow->Release();
    standard->Release();
    client->Release();

    // The window object, above the client area, is the standard one.
    IAccessible* frame = ObjectOf(gMainWindow, OBJID_WINDOW);
    IAccessible* standardFrame = nullptr;
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(SUCCEEDED(CreateStdAccessibleObject(gMainWindow, OBJID_WINDOW, ACCESSIBLE_IID,
                                                    reinterpret_cast<void**>(&standardFrame))));
    const Reading ourFrame = Read(frame);
    const Reading theirFrame = Read(standardFrame);
    frame->Release();
    standardFrame->Release();
    EXPECT_EQ(ourFrame.nameResult, theirFrame.nameResult);
    EXPECT_EQ(Narrow(ourFrame.name), Narrow(theirFrame.name));
    EXPECT_EQ(ourFrame.role, theirFrame.role);
    EXPECT_NE(ourFrame.role, ROLE_SYSTEM_STATUSBAR);
}

// ------------------------------------------------------------ announcements

struct Announcement {
    HWND window;
    LONG objectId;
    LONG childId;
    bool fromWindowThread;
    std::wstring name;  // the client object's name when it was announced
};
std::vector<Announcement> gAnnounced;
DWORD gWindowThread = 0;

void CALLBACK OnNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG objectId, LONG childId, DWORD thread, DWORD) {
    if (window != gMainWindow) return;
    Announcement a = {window, objectId, childId, thread == gWindowThread, L"(unreadable)"};
    if (IAccessible* client = ObjectOf(window, OBJID_CLIENT)) {
        a.name = Read(client).name;
        client->Release();
    }
    gAnnounced.push_back(a);
}

std::vector<std::wstring> AnnouncedNames() {
    std::vector<std::wstring> names;
    for (const Announcement& a : gAnnounced) names.push_back(a.name);
    return names;
}

std::string Joined(const std::vector<std::wstring>& names) {
    std::string joined;
    for (const std::wstring& name : names) {
        joined += '[';
        joined += Narrow(name);
        joined += ']';
    }
    return joined;
}

// The worker's texts go to the window, as in the program; the worker stops
// after its "Working" until the test lets it go on.
HANDLE gWorkingDrawn = nullptr;
HANDLE gGoOn = nullptr;
void DrawAndHoldAtWorking(int x, int y, const wchar_t* text, int count) {
    DrawWindowText(gMainWindow, x, y, text, count);
    if (std::wstring(text, static_cast<size_t>(count)) == WORKING.text) {
        SetEvent(gWorkingDrawn);
        WaitForSingleObject(gGoOn, 10000);
    }
}

void UpdateFirmware() { SendMessageW(gMainWindow, WM_COMMAND, IDM_UPDATE, 0); }

// Long enough for the window to announce what has settled.
void PumpPastSettling() { PumpMessages(STATUS_SETTLE_MS * 3); }

TEST_F(WindowAccessibleTest, EachChangeOfTheStatusIsAnnouncedOnceFromTheWindowsThread) {
    gWorkingDrawn = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gGoOn = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gWindowThread = GetCurrentThreadId();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnNameChange,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    struct Case {
        const char* what;
        uint8_t deviceType;  // 0: no device
        std::vector<std::wstring> whileWorking;
        std::vector<std::wstring> atTheEnd;
    };
    // One window for all runs, as in the program: each run starts from the
    // last one's status. The pages in between announce nothing.
    const Case cases[] = {
        {"a run that ends well", 0x83, {L"Working"}, {L"Working", L"OK REBOOT"}},
        {"a run that ends in ERROR", 0x81, {L"Working"}, {L"Working", L"ERROR"}},
        {"a run that ends well after ERROR", 0x83, {L"Working"}, {L"Working", L"OK REBOOT"}},
        // Nothing is drawn: the last run's texts are gone, and that is said.
        {"a run that finds no device", 0, {}, {L""}},
    };
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    for (const Case& c : cases) {
        SimDevice* device = AttachOlderDevice();
        if (c.deviceType == 0) {
            InstallTestWorld();
        } else {
            SimSetDeviceType(device, c.deviceType);
        }
        gUi.drawText = DrawAndHoldAtWorking;
        gAnnounced.clear();
        UpdateFirmware();
        if (!c.whileWorking.empty()) {
            ASSERT_EQ(WaitForSingleObject(gWorkingDrawn, 10000), WAIT_OBJECT_0) << c.what;
            PumpPastSettling();
            EXPECT_EQ(Joined(AnnouncedNames()), Joined(c.whileWorking)) << c.what << ", while it runs";
            SetEvent(gGoOn);
        }
        ASSERT_TRUE(PumpUntilWorkerEnded()) << c.what;
        PumpPastSettling();
        EXPECT_EQ(Joined(AnnouncedNames()), Joined(c.atTheEnd)) << c.what;
        for (const Announcement& a : gAnnounced) {
            EXPECT_EQ(a.objectId, OBJID_CLIENT) << c.what;
            EXPECT_EQ(a.childId, CHILDID_SELF) << c.what;
            EXPECT_TRUE(a.fromWindowThread) << c.what << ": announced from another thread";
        }
    }
    UnhookWinEvent(hook);
    CloseHandle(gWorkingDrawn);
    CloseHandle(gGoOn);
}

}  // namespace
