#include "app/window_events.h"

#include "app/main_window.h"
#include "events/update_events.h"

namespace {

// Posting is all a worker does to the window besides drawing its texts.
void Post(UINT message, WPARAM wParam) {
    if (gMainWindow) PostMessageW(gMainWindow, message, wParam, 0);
}

}  // namespace

// The window shows these four; every other event does nothing here.
void ShowWindowEvent(const UpdateEvent& event) {
    std::visit(EventHandlers{
                   [](const DeviceFound& e) {
                       if (e.kind == DeviceKind::Application || e.kind == DeviceKind::Bootloader)
                           Post(WM_APP_RUN_DEVICE_FOUND, 0);
                   },
                   [](const ProgrammingStarted& e) { Post(WM_APP_RUN_PROGRAMMING, e.pages); },
                   [](const PageProgrammed& e) { Post(WM_APP_RUN_PAGE, e.verified ? 1 : 0); },
                   [](const Finished& e) { Post(WM_APP_RUN_FINISHED, e.deviceReady ? 1 : 0); },
                   [](const auto&) {},
               },
               event);
}

void InstallWindowEvents() { gEvents = ShowWindowEvent; }
