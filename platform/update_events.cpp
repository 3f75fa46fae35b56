#include "platform/update_events.h"

namespace {
void NoDeviceFound(uint32_t, DeviceKind, const uint8_t*, size_t) {}
void NoRestartRequested() {}
void NoSwitchedDeviceMissing(uint32_t, uint32_t) {}
void NoRestartAwaited(uint32_t, RestartWaitEnd) {}
void NoDeviceIdentified(uint8_t, uint8_t, uint8_t, uint16_t) {}
void NoImagePrepared(bool, bool, uint8_t, uint8_t, uint8_t, uint32_t) {}
void NoQuestionAsked(VersionQuestion) {}
void NoQuestionAnswered(VersionQuestion, bool) {}
void NoProgrammingStarted(uint32_t) {}
void NoPageProgrammed(uint8_t, uint32_t, uint32_t, bool, bool) {}
void NoSignatureWritten(bool) {}
void NoSignatureConfirmed(bool, uint16_t) {}
void NoRunSent(bool) {}
void NoExchangeFailed(const ExchangeFailure&) {}
void NoBusChanged(BusWatchPhase, BusChange, uint32_t, uint32_t) {}
void NoBootloaderWaiting(uint32_t) {}
void NoAlreadyCurrent() {}
void NoCheckVerdict(CheckVerdict) {}
void NoStopped(bool) {}
void NoFinished(bool) {}
}  // namespace

const UpdateEvents NO_UPDATE_EVENTS = {
    .deviceFound = NoDeviceFound,
    .restartRequested = NoRestartRequested,
    .switchedDeviceMissing = NoSwitchedDeviceMissing,
    .restartAwaited = NoRestartAwaited,
    .deviceIdentified = NoDeviceIdentified,
    .imagePrepared = NoImagePrepared,
    .questionAsked = NoQuestionAsked,
    .questionAnswered = NoQuestionAnswered,
    .programmingStarted = NoProgrammingStarted,
    .pageProgrammed = NoPageProgrammed,
    .signatureWritten = NoSignatureWritten,
    .signatureConfirmed = NoSignatureConfirmed,
    .runSent = NoRunSent,
    .exchangeFailed = NoExchangeFailed,
    .busChanged = NoBusChanged,
    .bootloaderWaiting = NoBootloaderWaiting,
    .alreadyCurrent = NoAlreadyCurrent,
    .checkVerdict = NoCheckVerdict,
    .stopped = NoStopped,
    .finished = NoFinished,
};

UpdateEvents gEvents = NO_UPDATE_EVENTS;
