#include "app/window_events.h"

#include "app/main_window.h"
#include "platform/update_events.h"

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

// What the window does not show.
void Ignore() {}
void Ignore(uint32_t, uint32_t) {}
void Ignore(uint32_t, RestartWaitEnd) {}
void Ignore(uint8_t, uint8_t, uint8_t, uint16_t) {}
void Ignore(bool, bool, uint8_t, uint8_t, uint8_t, uint32_t) {}
void Ignore(VersionQuestion) {}
void Ignore(VersionQuestion, bool) {}
void Ignore(bool) {}
void Ignore(bool, uint16_t) {}
void Ignore(CheckVerdict) {}
void Ignore(const ExchangeFailure&) {}
void Ignore(BusWatchPhase, BusChange, uint32_t, uint32_t) {}
void Ignore(uint32_t) {}

// Every event has its entry: the compiler's missing-field-initializers
// warning, an error in every preset, stops an event added to UpdateEvents
// from being left a null pointer here.
const UpdateEvents WINDOW_EVENTS = {
    .deviceFound = OnDeviceFound,
    .restartRequested = Ignore,
    .switchedDeviceMissing = Ignore,
    .restartAwaited = Ignore,
    .deviceIdentified = Ignore,
    .imagePrepared = Ignore,
    .questionAsked = Ignore,
    .questionAnswered = Ignore,
    .programmingStarted = OnProgrammingStarted,
    .pageProgrammed = OnPageProgrammed,
    .signatureWritten = Ignore,
    .signatureConfirmed = Ignore,
    .runSent = Ignore,
    .exchangeFailed = Ignore,
    .busChanged = Ignore,
    .bootloaderWaiting = Ignore,
    .alreadyCurrent = Ignore,
    .checkVerdict = Ignore,
    .stopped = Ignore,
    .finished = OnFinished,
};

}  // namespace

void InstallWindowEvents() { gEvents = WINDOW_EVENTS; }
