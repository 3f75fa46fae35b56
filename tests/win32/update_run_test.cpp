// The main window while an update runs. Closing it (the close box, Alt+F4,
// File > Exit) waits for the worker, and the window closes by itself once
// the worker has ended, with the device fully updated; Windows is asked not
// to end the session nor to sleep meanwhile. The worker runs on its own
// thread as Update Firmware starts it, against the simulated device.
#include "app/update_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/resource.h"
#include "app/win32_session.h"
#include "platform/seams.h"
#include "tests/test_support.h"
#include "tests/win32/hidden_main_window.h"
#include "tests/win32/window_run_rig.h"
#include "worker/update_worker.h"

namespace {

struct CloseRequest {
    const char* what;
    UINT message;
    WPARAM wParam;
};
const CloseRequest CLOSE_REQUESTS[] = {
    {"the close box", WM_CLOSE, 0},
    {"File > Exit", WM_COMMAND, IDM_EXIT},
    {"Alt+F4 and the system menu's Close", WM_SYSCOMMAND, SC_CLOSE},
};

void Request(const CloseRequest& request) { SendMessageW(gMainWindow, request.message, request.wParam, 0); }
void UpdateFirmware() { SendMessageW(gMainWindow, WM_COMMAND, IDM_UPDATE, 0); }

class UpdateRunTest : public ::testing::Test {
   protected:
    void TearDown() override {
        // Whatever a test left running ends before the next one starts.
        ReleaseWorker();
        PumpUntilWorkerEnded();
        PumpMessages(20);
    }
};

TEST_F(UpdateRunTest, ACloseDuringARunWaitsForItsEndThenClosesOnce) {
    for (const CloseRequest& request : CLOSE_REQUESTS) {
        SimDevice* device = AttachOlderDevice();
        HoldWorkers();
        HiddenMainWindow main;
        ASSERT_TRUE(main.created);
        UpdateFirmware();
        ASSERT_TRUE(WorkerHeld()) << request.what;
        Request(request);
        Request(request);  // asked again: nothing more happens
        PumpMessages(50);
        EXPECT_TRUE(IsWindow(gMainWindow)) << request.what << ": the window stays while the worker runs";
        EXPECT_EQ(gQuitsSeen.count, 0) << request.what;

        ReleaseWorker();
        ASSERT_TRUE(PumpUntilWorkerEnded()) << request.what;
        PumpMessages(50);
        EXPECT_FALSE(IsWindow(gMainWindow)) << request.what << ": closed by itself after the worker";
        EXPECT_EQ(gQuitsSeen.count, 1) << request.what;
        EXPECT_EQ(gQuitsSeen.exitCode, 0u) << request.what;
        // The run went to its end: the whole image, a valid signature, the
        // run command.
        EXPECT_TRUE(DeviceHoldsImage(device, DemoImage(), RIG_OLD_FILL)) << request.what;
        EXPECT_TRUE(SimHasValidApp(device)) << request.what;
        EXPECT_EQ(device->runCommands, 1u) << request.what;
        EXPECT_FALSE(device->open) << request.what;
    }
}

TEST_F(UpdateRunTest, ACloseWithNoRunClosesAtOnce) {
    for (const bool afterARun : {false, true}) {
        for (const CloseRequest& request : CLOSE_REQUESTS) {
            const std::string what = std::string(request.what) + (afterARun ? ", after a run" : ", no run yet");
            AttachOlderDevice();
            HiddenMainWindow main;
            ASSERT_TRUE(main.created);
            if (afterARun) {
                UpdateFirmware();
                ASSERT_TRUE(PumpUntilWorkerEnded()) << what;
                ASSERT_TRUE(IsWindow(gMainWindow)) << what << ": a run alone does not close the window";
            }
            Request(request);
            EXPECT_FALSE(IsWindow(gMainWindow)) << what;
            PumpMessages(20);
            EXPECT_EQ(gQuitsSeen.count, 1) << what;
            EXPECT_EQ(gQuitsSeen.exitCode, 0u) << what;
        }
    }
}

bool UpdateCommandGreyed() {
    return (GetMenuState(GetMenu(gMainWindow), IDM_UPDATE, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) != 0;
}

// The cursor the window sets when the mouse moves over the part `hit`.
HCURSOR CursorOver(int hit) {
    SetCursor(nullptr);
    SendMessageW(gMainWindow, WM_SETCURSOR, reinterpret_cast<WPARAM>(gMainWindow), MAKELPARAM(hit, WM_MOUSEMOVE));
    return GetCursor();
}

TEST_F(UpdateRunTest, WhileARunsTheCommandIsGreyedAndTheCursorSaysBusy) {
    const HCURSOR busy = LoadCursorW(nullptr, IDC_APPSTARTING);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    struct Part {
        const char* what;
        int hit;
        bool busyDuringRun;
    };
    const Part parts[] = {
        {"client area", HTCLIENT, true},
        {"caption", HTCAPTION, true},
        {"menu bar", HTMENU, true},
        {"left border", HTLEFT, false},
        {"bottom-right corner", HTBOTTOMRIGHT, false},
    };
    AttachOlderDevice();
    HoldWorkers();
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    EXPECT_FALSE(UpdateCommandGreyed());
    EXPECT_EQ(CursorOver(HTCLIENT), arrow);

    UpdateFirmware();
    ASSERT_TRUE(WorkerHeld());
    EXPECT_TRUE(UpdateCommandGreyed());
    for (const Part& part : parts) {
        const HCURSOR cursor = CursorOver(part.hit);
        if (part.busyDuringRun) {
            EXPECT_EQ(cursor, busy) << part.what;
        } else {
            EXPECT_NE(cursor, busy) << part.what << ": a border keeps its sizing cursor";
            EXPECT_NE(cursor, nullptr) << part.what;
        }
    }
    UpdateFirmware();  // sent anyway, as by a script: still ignored

    ReleaseWorker();
    ASSERT_TRUE(PumpUntilWorkerEnded());
    PumpMessages(50);
    EXPECT_FALSE(UpdateRunning()) << "the second command started no worker";
    EXPECT_EQ(gFake.lockInits, 1) << "one worker ran";
    EXPECT_FALSE(UpdateCommandGreyed());
    EXPECT_EQ(CursorOver(HTCLIENT), arrow);
}

// The session calls as Windows would receive them, one line each, with
// whether they came from the window's own thread.
std::vector<std::string> gSessionLog;
DWORD gWindowThread = 0;

std::string Caller() { return GetCurrentThreadId() == gWindowThread ? "" : " (from another thread)"; }
BOOL WINAPI RecordBlockCreate(HWND window, LPCWSTR reason) {
    const std::wstring text = reason ? reason : L"(none)";
    gSessionLog.push_back(std::string(window == gMainWindow ? "block" : "block another window") + " '" +
                          std::string(text.begin(), text.end()) + "'" + Caller());
    return TRUE;
}
BOOL WINAPI RecordBlockDestroy(HWND window) {
    gSessionLog.push_back(std::string(window == gMainWindow ? "unblock" : "unblock another window") + Caller());
    return TRUE;
}
EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE flags) {
    const char* what = flags == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) ? "stay awake"
                       : flags == ES_CONTINUOUS                      ? "may sleep"
                                                                     : "other state";
    gSessionLog.push_back(what + Caller());
    return ES_CONTINUOUS;
}
const SessionCalls RECORDING_SESSION_CALLS = {
    .shutdownBlockReasonCreate = RecordBlockCreate,
    .shutdownBlockReasonDestroy = RecordBlockDestroy,
    .setThreadExecutionState = RecordExecutionState,
};

// As a shutdown asks (lParam 0; a log-off sets ENDSESSION_LOGOFF).
LRESULT QueryEndSession() { return SendMessageW(gMainWindow, WM_QUERYENDSESSION, 0, 0); }

TEST_F(UpdateRunTest, WindowsIsKeptFromEndingTheSessionAndSleepingDuringARun) {
    struct Case {
        const char* what;
        SessionCalls calls;
        std::vector<std::string> duringRun;
        std::vector<std::string> afterRun;
    };
    const std::vector<std::string> during = {"block 'Updating the firmware of a Lumaris device. Please wait.'",
                                             "stay awake"};
    const std::vector<std::string> after = {"unblock", "may sleep"};
    const Case cases[] = {
        {"a Windows with every call", RECORDING_SESSION_CALLS, during, after},
        // A Windows older than Vista: no shutdown block reason.
        {"no ShutdownBlockReason calls", {nullptr, nullptr, RecordExecutionState}, {"stay awake"}, {"may sleep"}},
        {"none of the calls", {nullptr, nullptr, nullptr}, {}, {}},
    };
    const SessionCalls saved = gSessionCalls;
    gWindowThread = GetCurrentThreadId();
    for (const Case& c : cases) {
        gSessionCalls = c.calls;
        gSessionLog.clear();
        SimDevice* device = AttachOlderDevice();
        HoldWorkers();
        HiddenMainWindow main;
        ASSERT_TRUE(main.created);
        EXPECT_NE(QueryEndSession(), FALSE) << c.what << ": no run, the session may end";
        EXPECT_TRUE(gSessionLog.empty()) << c.what;
        UpdateFirmware();
        ASSERT_TRUE(WorkerHeld()) << c.what;
        EXPECT_EQ(QueryEndSession(), FALSE) << c.what;
        EXPECT_EQ(gSessionLog, c.duringRun) << c.what;
        gSessionLog.clear();
        ReleaseWorker();
        ASSERT_TRUE(PumpUntilWorkerEnded()) << c.what;
        EXPECT_EQ(gSessionLog, c.afterRun) << c.what;
        EXPECT_NE(QueryEndSession(), FALSE) << c.what << ": the run has ended";
        EXPECT_TRUE(DeviceHoldsImage(device, DemoImage(), RIG_OLD_FILL)) << c.what;
    }
    gSessionCalls = saved;
}

// Windows has every call the program looks for, under the names it uses.
TEST(SessionCalls, AreFoundInWindows) {
    const SessionCalls saved = gSessionCalls;
    LoadSessionCalls();
    EXPECT_NE(gSessionCalls.shutdownBlockReasonCreate, nullptr);
    EXPECT_NE(gSessionCalls.shutdownBlockReasonDestroy, nullptr);
    EXPECT_NE(gSessionCalls.setThreadExecutionState, nullptr);
    gSessionCalls = saved;
}

}  // namespace

namespace {

// This program's import slot of PostMessageW: every call of it in the
// program, the worker thread's included, goes through that slot.
#if defined(_WIN64)
extern "C" void* gPostMessageSlot __asm__("__imp_PostMessageW");
#else
extern "C" void* gPostMessageSlot __asm__("__imp__PostMessageW@16");
#endif

using PostMessageFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
PostMessageFunction gRealPostMessage = nullptr;
std::atomic<int> gEndsPosted{0};
std::atomic<int> gEndsPostedWithSlotHeld{0};

// Notes, at the moment the worker's end is posted, whether a new worker
// could be started: the window may start one as soon as it reads the message.
BOOL WINAPI PostMessageNotingTheSlot(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP_WORKER_ENDED) {
        ++gEndsPosted;
        if (ClaimWorkerSlot()) {
            ReleaseWorkerSlot();
        } else {
            ++gEndsPostedWithSlotHeld;
        }
    }
    return gRealPostMessage(window, message, wParam, lParam);
}

void SetPostMessageSlot(void* function) {
    DWORD protection = 0;
    VirtualProtect(&gPostMessageSlot, sizeof gPostMessageSlot, PAGE_READWRITE, &protection);
    gPostMessageSlot = function;
    VirtualProtect(&gPostMessageSlot, sizeof gPostMessageSlot, protection, &protection);
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
}

}  // namespace

// The worker's end reaches the window only once the worker slot is free: an
// Update Firmware command handled right after it starts a new run.
TEST_F(UpdateRunTest, TheWorkersEndIsPostedOnceANewRunCanStart) {
    gRealPostMessage = reinterpret_cast<PostMessageFunction>(gPostMessageSlot);
    gEndsPosted = 0;
    gEndsPostedWithSlotHeld = 0;
    SetPostMessageSlot(reinterpret_cast<void*>(PostMessageNotingTheSlot));
    AttachOlderDevice();
    HiddenMainWindow main;
    ASSERT_TRUE(main.created);
    UpdateFirmware();
    const bool ended = PumpUntilWorkerEnded();
    SetPostMessageSlot(reinterpret_cast<void*>(gRealPostMessage));
    ASSERT_TRUE(ended);
    EXPECT_EQ(gEndsPosted, 1);
    EXPECT_EQ(gEndsPostedWithSlotHeld, 0) << "the end was posted while the worker slot was still held";
    UpdateFirmware();
    EXPECT_TRUE(UpdateRunning()) << "Update Firmware right after the end starts a new run";
    ASSERT_TRUE(PumpUntilWorkerEnded());
}
