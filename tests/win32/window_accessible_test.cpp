// The main window's client area as a screen reader reads it: its name is
// the status the window shows, read from the texts a paint draws, its role a
// status bar, and everything else the standard object's. Asked for as a
// screen reader asks (AccessibleObjectFromWindow), on the hidden main window.
#include "app/window_accessible.h"

#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "app/win32_texts.h"
#include "tests/win32/hidden_main_window.h"

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

}  // namespace
