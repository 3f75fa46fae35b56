#include "app/update_run.h"

#include "platform/win32_session.h"
#include "platform/win32_texts.h"
#include "worker/update_worker.h"

namespace {

// What Windows shows when a shutdown or log-off waits for the update.
constexpr wchar_t SHUTDOWN_REASON[] = L"Updating the firmware of a Lumaris device. Please wait.";

// Main thread only.
bool gRunning = false;
bool gClosePending = false;

DWORD WINAPI WorkerThreadProc(LPVOID parameter) {
    const DWORD exitCode = UpdateWorker();
    ReleaseWorkerSlot();
    PostMessageW(static_cast<HWND>(parameter), WM_APP_WORKER_ENDED, 0, 0);
    return exitCode;
}

}  // namespace

// While a worker runs, the command is ignored: two workers would share the
// USB lock, the embedded image and the window.
// A new run starts on an empty window: no text of the last run stays beside
// its "Working", on the screen or in a repaint.
void StartUpdateRun(HWND window) {
    if (gRunning || !ClaimWorkerSlot()) return;
    ForgetWindowTexts();
    InvalidateRect(window, nullptr, TRUE);
    HANDLE thread = CreateThread(nullptr, 0, WorkerThreadProc, window, 0, nullptr);
    if (!thread) {
        ReleaseWorkerSlot();
        return;
    }
    CloseHandle(thread);  // the thread reports its end with a message
    gRunning = true;
    HoldSession(window, SHUTDOWN_REASON);
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
    if (gClosePending) {
        gClosePending = false;
        DestroyWindow(window);
    }
}
