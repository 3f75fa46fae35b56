// Keeping Windows up while an update writes the device's flash: a shutdown
// or log-off is held back with a reason the user sees, and the PC does not
// go to sleep when it is idle. The calls are found at run time; a Windows
// that lacks one goes on without it (ShutdownBlockReasonCreate and
// ShutdownBlockReasonDestroy came with Windows Vista).
#pragma once

#include <windows.h>

// The calls used, as found by LoadSessionCalls (nullptr where Windows lacks
// one). Tests put their own in.
struct SessionCalls {
    BOOL(WINAPI* shutdownBlockReasonCreate)(HWND window, LPCWSTR reason);
    BOOL(WINAPI* shutdownBlockReasonDestroy)(HWND window);
    EXECUTION_STATE(WINAPI* setThreadExecutionState)(EXECUTION_STATE flags);
};
extern SessionCalls gSessionCalls;

// Finds the calls of the running Windows. Call once on the main thread.
void LoadSessionCalls();

// From now on a shutdown or log-off names `reason` as what `window` is
// doing, and the system stays awake. On the thread that created `window`.
void HoldSession(HWND window, const wchar_t* reason);
// Ends what HoldSession began. On the same thread.
void ReleaseSession(HWND window);
