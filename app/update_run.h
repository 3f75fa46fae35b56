// The update run as the main window sees it: starting the worker, the
// window's state while it runs, and closing. Main thread only.
#pragma once

#include <windows.h>

// Posted to the main window by the worker thread as its last action, once
// the worker slot is free again.
constexpr UINT WM_APP_WORKER_ENDED = WM_APP + 1;

// The Update Firmware command: starts a worker thread, unless one runs.
void StartUpdateRun(HWND window);

// From the command that started a worker until its thread has ended.
// Meanwhile File > Update Firmware is greyed, the cursor over the window is
// the app-starting cursor, Windows is asked not to end the session (with a
// reason the user sees) and not to go to sleep (app/win32_session.h),
// and the window answers WM_QUERYENDSESSION with FALSE.
bool UpdateRunning();

// A request to close the window (close box, Alt+F4, File > Exit). With no
// worker running the window is destroyed at once. While one runs, the
// request is remembered and the window is destroyed once the worker has
// ended: closing must not cut off an update that is writing the device's
// flash. Further requests meanwhile change nothing.
void RequestClose(HWND window);

// WM_APP_WORKER_ENDED: the window returns to rest, and a close request
// made during the run is carried out.
void WorkerEnded(HWND window);

// The run's events as the worker posts them (app/window_events.h), shown on
// the taskbar button. False for any other message.
bool ShowRunEvent(UINT message, WPARAM wParam);

// WM_SETCURSOR: while a worker runs, the app-starting cursor wherever the
// window would show the arrow (its sizing borders keep theirs). False when
// the window's default cursor applies.
bool SetRunCursor(LPARAM lParam);
