#include "tests/win32/window_run_rig.h"

#include "app/update_run.h"
#include "platform/seams.h"
#include "tests/fake_platform.h"
#include "tests/test_support.h"

QuitsSeen gQuitsSeen = {0, 0};

namespace {

constexpr DWORD PATIENCE_MS = 10000;

HANDLE gHeld = nullptr;     // set by the worker when it has stopped
HANDLE gRelease = nullptr;  // set by the test to let it go on

// The restart wait, on the worker: stops until the test releases it, then
// passes the wait on the virtual clock as the test platform does.
void HeldSleep(uint32_t milliseconds) {
    SetEvent(gHeld);
    WaitForSingleObject(gRelease, PATIENCE_MS);
    gFake.sleptMs += milliseconds;
    gFake.now += milliseconds;
}

void HandleQueued() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ++gQuitsSeen.count;
            gQuitsSeen.exitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

SimDevice* AttachOlderDevice() {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = SimMode::Application;
    SimSetDeviceType(d, 0x83);
    SimFillOldApplication(d, RIG_OLD_FILL);
    SimSetInstalledApp(d, 0x00, 0x90, true);
    gQuitsSeen = {0, 0};
    return d;
}

void HoldWorkers() {
    if (!gHeld) gHeld = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!gRelease) gRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(gHeld);
    ResetEvent(gRelease);
    gClock.sleep = HeldSleep;
}

bool WorkerHeld() { return WaitForSingleObject(gHeld, PATIENCE_MS) == WAIT_OBJECT_0; }

void ReleaseWorker() {
    if (gRelease) SetEvent(gRelease);
}

void PumpMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        HandleQueued();
    } while (GetTickCount() - start < milliseconds);
}

bool PumpUntilWorkerEnded() {
    const DWORD start = GetTickCount();
    while (UpdateRunning()) {
        if (GetTickCount() - start >= PATIENCE_MS) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        HandleQueued();
    }
    return true;
}
