// The main window's taskbar button during an update: the programming
// progress as pages verified of pages to write, red when the run ends in
// "ERROR", nothing once it has ended well. Main thread only.
#pragma once

#include <shobjidl.h>
#include <windows.h>

#include <cstdint>

// Shows the progress on `list` (taking a reference; nullptr drops it) for
// `window`, starting with what the button should show now: a button made
// afresh, after Explorer restarted, shows the run where it is.
void TaskbarUse(HWND window, ITaskbarList3* list);

// The taskbar has made the window's button ("TaskbarButtonCreated"): the
// button's interface is made and used from now on. Without COM or on a
// Windows without ITaskbarList3 the button just shows no progress.
void TaskbarButtonCreated(HWND window);

// A run starts: no progress on the button.
void TaskbarRunStarted();
// Programming starts with `pages` pages to write.
void TaskbarProgrammingStarted(uint32_t pages);
// A page was written and, if `verified`, its checksum matched.
void TaskbarPageProgrammed(bool verified);
// The run ended: red, where programming stood, when it ended in "ERROR"
// (full when no page was programmed); else no progress.
void TaskbarRunEnded(bool endedInError);
