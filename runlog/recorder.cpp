#include "runlog/recorder.h"

#include "bootloader/commands.h"
#include "runlog/text.h"

namespace {

RunRecord gNoRecord;
RunRecord* gRun = &gNoRecord;
RecorderSetup gSetup{&gNoRecord, nullptr, 0};
const RunWriter* gWriters[MAX_RUN_WRITERS] = {};

// Hands an event on to every writer in use.
template <typename Call>
void ForEachWriter(Call call) {
    if (gSetup.beforeEvent) gSetup.beforeEvent();
    for (size_t i = 0; i < gSetup.count; ++i) call(*gWriters[i]);
}

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    gRun->deviceIndexKnown = true;
    gRun->deviceIndex = index;
    if (!gRun->deviceFound) {
        gRun->deviceFound = true;
        gRun->firstKind = kind;
        gRun->firstId = Printable(id, length);
    }
    ++gRun->devicesListed;
    ForEachWriter([&](const RunWriter& w) { w.events.deviceFound(index, kind, id, length); });
}

void OnRestartRequested() {
    gRun->restartRequested = true;
    ForEachWriter([&](const RunWriter& w) { w.events.restartRequested(); });
}

void OnSwitchedDeviceMissing(uint32_t before, uint32_t now) {
    gRun->switchedDeviceMissing = true;
    gRun->devicesBefore = before;
    gRun->devicesAfter = now;
    ForEachWriter([&](const RunWriter& w) { w.events.switchedDeviceMissing(before, now); });
}

void OnRestartAwaited(uint32_t waitedMs, RestartWaitEnd end) {
    gRun->restartAwaited = true;
    gRun->restartEnd = end;
    gRun->restartWaitedMs = waitedMs;
    ForEachWriter([&](const RunWriter& w) { w.events.restartAwaited(waitedMs, end); });
}

void OnDeviceIdentified(uint8_t type, uint8_t verHi, uint8_t verLo, uint16_t signature) {
    if (!gRun->firstIdentified) {
        gRun->firstIdentified = true;
        gRun->firstType = type;
        gRun->firstHi = verHi;
        gRun->firstLo = verLo;
    }
    gRun->identified = true;
    gRun->deviceType = type;
    gRun->installedHi = verHi;
    gRun->installedLo = verLo;
    gRun->installedValid = signature == APP_SIGNATURE;
    ForEachWriter([&](const RunWriter& w) { w.events.deviceIdentified(type, verHi, verLo, signature); });
}

void OnImagePrepared(bool loaded, bool accepted, uint8_t type, uint8_t verHi, uint8_t verLo, uint32_t pages) {
    gRun->imagePrepared = true;
    gRun->imageLoaded = loaded;
    gRun->imageAccepted = accepted;
    gRun->imageType = type;
    gRun->imageHi = verHi;
    gRun->imageLo = verLo;
    ForEachWriter([&](const RunWriter& w) { w.events.imagePrepared(loaded, accepted, type, verHi, verLo, pages); });
}

void OnQuestionAsked(VersionQuestion question) {
    gRun->question = question;
    ForEachWriter([&](const RunWriter& w) { w.events.questionAsked(question); });
}

void OnQuestionAnswered(VersionQuestion question, bool yes) {
    gRun->answered = true;
    gRun->answeredYes = yes;
    ForEachWriter([&](const RunWriter& w) { w.events.questionAnswered(question, yes); });
}

void OnProgrammingStarted(uint32_t pages) {
    gRun->programmingStarted = true;
    gRun->pagesTotal = pages;
    ForEachWriter([&](const RunWriter& w) { w.events.programmingStarted(pages); });
}

void OnPageProgrammed(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified) {
    gRun->pagesWritten += written;
    gRun->pagesVerified += verified;
    ForEachWriter([&](const RunWriter& w) { w.events.pageProgrammed(page, index, total, written, verified); });
}

void OnSignatureWritten(bool acknowledged) {
    gRun->signatureWritten = acknowledged;
    ForEachWriter([&](const RunWriter& w) { w.events.signatureWritten(acknowledged); });
}

void OnSignatureConfirmed(bool valid, uint16_t signature) {
    gRun->signatureConfirmed = valid;
    ForEachWriter([&](const RunWriter& w) { w.events.signatureConfirmed(valid, signature); });
}

void OnRunSent(bool written) {
    gRun->runSent = written;
    ForEachWriter([&](const RunWriter& w) { w.events.runSent(written); });
}

void OnExchangeFailed(const ExchangeFailure& reported) {
    const ExchangeFailure failure = gSetup.causeOf ? gSetup.causeOf(reported) : reported;
    if (gRun->failures++ == 0) gRun->failure = failure;
    ForEachWriter([&](const RunWriter& w) { w.events.exchangeFailed(failure); });
}

void OnBusChanged(BusWatchPhase phase, BusChange change, uint32_t before, uint32_t now) {
    gRun->busChanged = true;
    gRun->busPhase = phase;
    gRun->busChange = change;
    gRun->busDevicesBefore = before;
    gRun->busDevicesNow = now;
    ForEachWriter([&](const RunWriter& w) { w.events.busChanged(phase, change, before, now); });
}

void OnBootloaderWaiting(uint32_t index) {
    gRun->bootloaderWaiting = true;
    gRun->waitingIndex = index;
    ForEachWriter([&](const RunWriter& w) { w.events.bootloaderWaiting(index); });
}

void OnAlreadyCurrent() {
    gRun->alreadyCurrent = true;
    ForEachWriter([&](const RunWriter& w) { w.events.alreadyCurrent(); });
}

void OnCheckVerdict(CheckVerdict verdict) {
    gRun->verdictSeen = true;
    gRun->verdict = verdict;
    ForEachWriter([&](const RunWriter& w) { w.events.checkVerdict(verdict); });
}

void OnStopped(bool flashOpen) {
    gRun->stopped = true;
    gRun->stoppedWithFlashOpen = flashOpen;
    ForEachWriter([&](const RunWriter& w) { w.events.stopped(flashOpen); });
}

void OnDeviceCountFailed() {
    gRun->deviceCountFailed = true;
    ForEachWriter([&](const RunWriter& w) { w.events.deviceCountFailed(); });
}

void OnFinished(bool deviceReady) {
    gRun->finished = true;
    gRun->deviceReady = deviceReady;
    ForEachWriter([&](const RunWriter& w) { w.events.finished(deviceReady); });
}

const UpdateEvents RECORDING_EVENTS = {
    .deviceFound = OnDeviceFound,
    .deviceCountFailed = OnDeviceCountFailed,
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
    .exchangeFailed = OnExchangeFailed,
    .busChanged = OnBusChanged,
    .bootloaderWaiting = OnBootloaderWaiting,
    .alreadyCurrent = OnAlreadyCurrent,
    .checkVerdict = OnCheckVerdict,
    .stopped = OnStopped,
    .finished = OnFinished,
};

}  // namespace

void RecorderInstall(const RecorderSetup& setup) {
    gSetup = setup;
    if (gSetup.count > MAX_RUN_WRITERS) gSetup.count = MAX_RUN_WRITERS;
    for (size_t i = 0; i < gSetup.count; ++i) gWriters[i] = setup.writers[i];
    gSetup.writers = nullptr;  // copied: the caller's array need not outlive the call
    gRun = setup.run;
    *gRun = RunRecord{};
    gEvents = RECORDING_EVENTS;
}

void RecorderReset() {
    RunRecord fresh;
    fresh.firstIdentified = gRun->firstIdentified;
    fresh.firstType = gRun->firstType;
    fresh.firstHi = gRun->firstHi;
    fresh.firstLo = gRun->firstLo;
    *gRun = fresh;
}
