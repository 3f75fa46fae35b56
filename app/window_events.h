// What the window program shows of the core's events. They arrive on the
// worker thread; each one the window uses is posted to the main window as
// one of these messages, and the main thread acts on it.
#pragma once

#include <windows.h>

#include "events/update_events.h"

// Discovery found the device it acts on (one in its application or its
// bootloader): the run is past its first discovery, so it ends with a text,
// "OK" and "REBOOT" or "ERROR". A run whose first discovery fails draws
// nothing.
constexpr UINT WM_APP_RUN_DEVICE_FOUND = WM_APP + 2;
// Programming starts; wParam: the pages to write.
constexpr UINT WM_APP_RUN_PROGRAMMING = WM_APP + 3;
// A page was written; wParam: 1 when its checksum matched.
constexpr UINT WM_APP_RUN_PAGE = WM_APP + 4;
// The run ended; wParam: deviceReady as the worker chose its last text.
constexpr UINT WM_APP_RUN_FINISHED = WM_APP + 5;

// Posts `event` to the main window (gMainWindow) if the window shows it.
void ShowWindowEvent(const UpdateEvent& event);
// Makes the core's sink (gEvents) post to the main window, without a log.
void InstallWindowEvents();
