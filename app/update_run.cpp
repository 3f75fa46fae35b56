#include "app/update_run.h"

#include "app/resource.h"
#include "app/taskbar_progress.h"
#include "app/win32_session.h"
#include "app/win32_texts.h"
#include "app/window_accessible.h"
#include "app/window_events.h"
#include "app/window_log.h"
#include "worker/update_worker.h"

namespace {

// What Windows shows when a shutdown or log-off waits for the update.
constexpr wchar_t SHUTDOWN_REASON[] = L"Updating the firmware of a Lumaris device. Please wait.";

// Main thread only.
bool gRunning = false;
bool gClosePending = false;
// The run is past its first discovery, so it ends with a text.
bool gDeviceFound = false;

DWORD WINAPI WorkerThreadProc(LPVOID parameter) {
    WindowLogRunBegins();
    const DWORD exitCode = UpdateWorker();
    WindowLogRunEnds();
    ReleaseWorkerSlot();
    PostMessageW(static_cast<HWND>(parameter), WM_APP_WORKER_ENDED, 0, 0);
    return exitCode;
}

// The cursor changes at once when the run starts or ends under it, not
// only when the mouse next moves.
void RefreshCursor(HWND window) {
    POINT at;
    if (!GetCursorPos(&at) || WindowFromPoint(at) != window) return;
    const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
    SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(hit, WM_MOUSEMOVE));
}

// Greyed while a worker runs; the command would be ignored anyway.
void EnableUpdateCommand(HWND window, bool enable) {
    const UINT state = enable ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(GetMenu(window), IDM_UPDATE, MF_BYCOMMAND | state);
}

}  // namespace

// While a worker runs, the command is ignored: two workers would share the
// USB lock, the embedded image and the window.
// A new run starts on an empty window: no text of the last run stays beside
// its "Working", on the screen, in a repaint or for a screen reader.
void StartUpdateRun(HWND window) {
    if (gRunning || !ClaimWorkerSlot()) return;
    ForgetWindowTexts();
    InvalidateRect(window, nullptr, TRUE);
    WindowStatusChanged(window);
    HANDLE thread = CreateThread(nullptr, 0, WorkerThreadProc, window, 0, nullptr);
    if (!thread) {
        ReleaseWorkerSlot();
        return;
    }
    CloseHandle(thread);  // the thread reports its end with a message
    gRunning = true;
    gDeviceFound = false;
    HoldSession(window, SHUTDOWN_REASON);
    EnableUpdateCommand(window, false);
    TaskbarRunStarted();
    RefreshCursor(window);
}

bool UpdateRunning() { return gRunning; }

void RequestClose(HWND window) {
    if (gRunning) {
        gClosePending = true;
        return;
    }
    DestroyWindow(window);
}

void WorkerEnded(HWND window) {
    gRunning = false;
    ReleaseSession(window);
    EnableUpdateCommand(window, true);
    RefreshCursor(window);
    if (gClosePending) {
        gClosePending = false;
        DestroyWindow(window);
    }
}

bool ShowRunEvent(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_APP_RUN_DEVICE_FOUND: gDeviceFound = true; return true;
        case WM_APP_RUN_PROGRAMMING: TaskbarProgrammingStarted(static_cast<uint32_t>(wParam)); return true;
        case WM_APP_RUN_PAGE: TaskbarPageProgrammed(wParam != 0); return true;
        // deviceReady 0 past the first discovery is "ERROR"; a run whose
        // first discovery failed has drawn nothing (its box said "Error").
        case WM_APP_RUN_FINISHED: TaskbarRunEnded(wParam == 0 && gDeviceFound); return true;
        default: return false;
    }
}

bool SetRunCursor(LPARAM lParam) {
    const int hit = static_cast<short>(LOWORD(lParam));
    const bool sizingBorder = (hit >= HTSIZEFIRST && hit <= HTSIZELAST) || hit == HTBORDER;
    if (!gRunning || hit == HTERROR || hit == HTNOWHERE || sizingBorder) return false;
    SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    return true;
}
