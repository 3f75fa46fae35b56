#include "console/recorder.h"

#include "bootloader/commands.h"
#include "console/text.h"

namespace {

RunRecord gRun;
const ConsoleWriter* gWriter = &HUMAN_WRITER;

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    if (!gRun.deviceFound) {
        gRun.deviceFound = true;
        gRun.firstKind = kind;
        gRun.firstId = Printable(id, length);
    }
    ++gRun.devicesListed;
    gWriter->events.deviceFound(index, kind, id, length);
}

void OnRestartRequested() {
    gRun.restartRequested = true;
    gWriter->events.restartRequested();
}

void OnSwitchedDeviceMissing(uint32_t before, uint32_t now) {
    gRun.switchedDeviceMissing = true;
    gRun.devicesBefore = before;
    gRun.devicesAfter = now;
    gWriter->events.switchedDeviceMissing(before, now);
}

void OnRestartAwaited(uint32_t waitedMs, RestartWaitEnd end) {
    gRun.restartAwaited = true;
    gRun.restartEnd = end;
    gRun.restartWaitedMs = waitedMs;
    gWriter->events.restartAwaited(waitedMs, end);
}

void OnDeviceIdentified(uint8_t type, uint8_t verHi, uint8_t verLo, uint16_t signature) {
    gRun.identified = true;
    gRun.deviceType = type;
    gRun.installedHi = verHi;
    gRun.installedLo = verLo;
    gRun.installedValid = signature == APP_SIGNATURE;
    gWriter->events.deviceIdentified(type, verHi, verLo, signature);
}

void OnImagePrepared(bool loaded, bool accepted, uint8_t type, uint8_t verHi, uint8_t verLo, uint32_t pages) {
    gRun.imagePrepared = true;
    gRun.imageLoaded = loaded;
    gRun.imageAccepted = accepted;
    gRun.imageType = type;
    gRun.imageHi = verHi;
    gRun.imageLo = verLo;
    gWriter->events.imagePrepared(loaded, accepted, type, verHi, verLo, pages);
}

void OnQuestionAsked(VersionQuestion question) {
    gRun.question = question;
    gWriter->events.questionAsked(question);
}

void OnQuestionAnswered(VersionQuestion question, bool yes) {
    gRun.answered = true;
    gRun.answeredYes = yes;
    gWriter->events.questionAnswered(question, yes);
}

void OnProgrammingStarted(uint32_t pages) {
    gRun.programmingStarted = true;
    gRun.pagesTotal = pages;
    gWriter->events.programmingStarted(pages);
}

void OnPageProgrammed(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified) {
    gRun.pagesWritten += written;
    gRun.pagesVerified += verified;
    gWriter->events.pageProgrammed(page, index, total, written, verified);
}

void OnSignatureWritten(bool acknowledged) {
    gRun.signatureWritten = acknowledged;
    gWriter->events.signatureWritten(acknowledged);
}

void OnSignatureConfirmed(bool valid, uint16_t signature) {
    gRun.signatureConfirmed = valid;
    gWriter->events.signatureConfirmed(valid, signature);
}

void OnRunSent(bool written) {
    gRun.runSent = written;
    gWriter->events.runSent(written);
}

void OnCheckVerdict(CheckVerdict verdict) {
    gRun.verdictSeen = true;
    gRun.verdict = verdict;
    gWriter->events.checkVerdict(verdict);
}

void OnStopped(bool flashOpen) {
    gRun.stopped = true;
    gRun.stoppedWithFlashOpen = flashOpen;
    gWriter->events.stopped(flashOpen);
}

void OnFinished(bool deviceReady) {
    gRun.finished = true;
    gRun.deviceReady = deviceReady;
    gWriter->events.finished(deviceReady);
}

const UpdateEvents RECORDING_EVENTS = {
    .deviceFound = OnDeviceFound,
    .restartRequested = OnRestartRequested,
    .switchedDeviceMissing = OnSwitchedDeviceMissing,
    .restartAwaited = OnRestartAwaited,
    .deviceIdentified = OnDeviceIdentified,
    .imagePrepared = OnImagePrepared,
    .questionAsked = OnQuestionAsked,
    .questionAnswered = OnQuestionAnswered,
    .programmingStarted = OnProgrammingStarted,
    .pageProgrammed = OnPageProgrammed,
    .signatureWritten = OnSignatureWritten,
    .signatureConfirmed = OnSignatureConfirmed,
    .runSent = OnRunSent,
    .checkVerdict = OnCheckVerdict,
    .stopped = OnStopped,
    .finished = OnFinished,
};

}  // namespace

void RecorderInstall(const ConsoleWriter& writer) {
    gRun = RunRecord{};
    gWriter = &writer;
    gEvents = RECORDING_EVENTS;
}

const RunRecord& RecordedRun() { return gRun; }
