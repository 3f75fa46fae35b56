#include "platform/update_events.h"

namespace {
void NoDeviceFound(uint32_t, DeviceKind, const uint8_t*, size_t) {}
void NoRestartRequested() {}
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
void NoCheckVerdict(CheckVerdict) {}
void NoFinished(bool) {}
}  // namespace

const UpdateEvents NO_UPDATE_EVENTS = {NoDeviceFound,      NoRestartRequested, NoRestartAwaited,     NoDeviceIdentified,
                                       NoImagePrepared,    NoQuestionAsked,    NoQuestionAnswered,   NoProgrammingStarted,
                                       NoPageProgrammed,   NoSignatureWritten, NoSignatureConfirmed, NoRunSent,
                                       NoCheckVerdict,     NoFinished};

UpdateEvents gEvents = NO_UPDATE_EVENTS;
