#include "app/window_events.h"

#include "app/main_window.h"
#include "events/update_events.h"

namespace {

// Posting is all a worker does to the window besides drawing its texts.
void Post(UINT message, WPARAM wParam) {
    if (gMainWindow) PostMessageW(gMainWindow, message, wParam, 0);
}

void OnDeviceFound(uint32_t, DeviceKind kind, const uint8_t*, size_t) {
    if (kind == DeviceKind::Application || kind == DeviceKind::Bootloader) Post(WM_APP_RUN_DEVICE_FOUND, 0);
}
void OnProgrammingStarted(uint32_t pages) { Post(WM_APP_RUN_PROGRAMMING, pages); }
void OnPageProgrammed(uint8_t, uint32_t, uint32_t, bool, bool verified) { Post(WM_APP_RUN_PAGE, verified ? 1 : 0); }
void OnFinished(bool deviceReady) { Post(WM_APP_RUN_FINISHED, deviceReady ? 1 : 0); }

// The window shows these four; every other event does nothing here.
const UpdateEvents WINDOW_EVENTS = {
    .deviceFound = OnDeviceFound,
    .programmingStarted = OnProgrammingStarted,
    .pageProgrammed = OnPageProgrammed,
    .finished = OnFinished,
};

}  // namespace

void InstallWindowEvents() { gEvents = WINDOW_EVENTS; }
