#include "console/recorder.h"

#include <cwchar>

#include "bootloader/commands.h"
#include "console/text.h"
#include "usb/usb_access.h"

namespace {

constexpr size_t MAX_WRITERS = 2;

RunRecord gRun;
const ConsoleWriter* gWriters[MAX_WRITERS] = {&HUMAN_WRITER};
size_t gWriterCount = 1;
bool gBoxHeld = false;
BoxShown gHeldBox{};

bool SameBox(const BoxShown& a, const BoxShown& b) {
    return !a.question && !b.question && a.style == b.style && a.textLength == b.textLength &&
           a.captionLength == b.captionLength && std::wmemcmp(a.text, b.text, a.textLength) == 0 &&
           std::wmemcmp(a.caption, b.caption, a.captionLength) == 0;
}

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    gRun.deviceIndexKnown = true;
    gRun.deviceIndex = index;
    if (!gRun.deviceFound) {
        gRun.deviceFound = true;
        gRun.firstKind = kind;
        gRun.firstId = Printable(id, length);
    }
    ++gRun.devicesListed;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.deviceFound(index, kind, id, length); });
}

void OnRestartRequested() {
    gRun.restartRequested = true;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.restartRequested(); });
}

void OnSwitchedDeviceMissing(uint32_t before, uint32_t now) {
    gRun.switchedDeviceMissing = true;
    gRun.devicesBefore = before;
    gRun.devicesAfter = now;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.switchedDeviceMissing(before, now); });
}

void OnRestartAwaited(uint32_t waitedMs, RestartWaitEnd end) {
    gRun.restartAwaited = true;
    gRun.restartEnd = end;
    gRun.restartWaitedMs = waitedMs;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.restartAwaited(waitedMs, end); });
}

void OnDeviceIdentified(uint8_t type, uint8_t verHi, uint8_t verLo, uint16_t signature) {
    if (!gRun.firstIdentified) {
        gRun.firstIdentified = true;
        gRun.firstType = type;
        gRun.firstHi = verHi;
        gRun.firstLo = verLo;
    }
    gRun.identified = true;
    gRun.deviceType = type;
    gRun.installedHi = verHi;
    gRun.installedLo = verLo;
    gRun.installedValid = signature == APP_SIGNATURE;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.deviceIdentified(type, verHi, verLo, signature); });
}

void OnImagePrepared(bool loaded, bool accepted, uint8_t type, uint8_t verHi, uint8_t verLo, uint32_t pages) {
    gRun.imagePrepared = true;
    gRun.imageLoaded = loaded;
    gRun.imageAccepted = accepted;
    gRun.imageType = type;
    gRun.imageHi = verHi;
    gRun.imageLo = verLo;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.imagePrepared(loaded, accepted, type, verHi, verLo, pages); });
}

void OnQuestionAsked(VersionQuestion question) {
    gRun.question = question;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.questionAsked(question); });
}

void OnQuestionAnswered(VersionQuestion question, bool yes) {
    gRun.answered = true;
    gRun.answeredYes = yes;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.questionAnswered(question, yes); });
}

void OnProgrammingStarted(uint32_t pages) {
    gRun.programmingStarted = true;
    gRun.pagesTotal = pages;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.programmingStarted(pages); });
}

void OnPageProgrammed(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified) {
    gRun.pagesWritten += written;
    gRun.pagesVerified += verified;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.pageProgrammed(page, index, total, written, verified); });
}

void OnSignatureWritten(bool acknowledged) {
    gRun.signatureWritten = acknowledged;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.signatureWritten(acknowledged); });
}

void OnSignatureConfirmed(bool valid, uint16_t signature) {
    gRun.signatureConfirmed = valid;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.signatureConfirmed(valid, signature); });
}

void OnRunSent(bool written) {
    gRun.runSent = written;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.runSent(written); });
}

// A write or read that failed outright may mean that the device left the
// bus: the console asks the bus itself (the core does not, so that the
// window program's library calls are its own), and names that cause.
ExchangeFailure WithCause(ExchangeFailure failure) {
    if (failure.fault != ExchangeFault::WriteFailed && failure.fault != ExchangeFault::ReadFailed) return failure;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK || count < failure.devicesCounted)
        failure.fault = ExchangeFault::DeviceGone;
    return failure;
}

void OnExchangeFailed(const ExchangeFailure& reported) {
    const ExchangeFailure failure = WithCause(reported);
    if (gRun.failures++ == 0) gRun.failure = failure;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.exchangeFailed(failure); });
}

void OnBusChanged(BusWatchPhase phase, BusChange change, uint32_t before, uint32_t now) {
    gRun.busChanged = true;
    gRun.busPhase = phase;
    gRun.busChange = change;
    gRun.busDevicesBefore = before;
    gRun.busDevicesNow = now;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.busChanged(phase, change, before, now); });
}

void OnBootloaderWaiting(uint32_t index) {
    gRun.bootloaderWaiting = true;
    gRun.waitingIndex = index;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.bootloaderWaiting(index); });
}

void OnAlreadyCurrent() {
    gRun.alreadyCurrent = true;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.alreadyCurrent(); });
}

void OnCheckVerdict(CheckVerdict verdict) {
    gRun.verdictSeen = true;
    gRun.verdict = verdict;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.checkVerdict(verdict); });
}

void OnStopped(bool flashOpen) {
    gRun.stopped = true;
    gRun.stoppedWithFlashOpen = flashOpen;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.stopped(flashOpen); });
}

void OnFinished(bool deviceReady) {
    gRun.finished = true;
    gRun.deviceReady = deviceReady;
    ForEachWriter([&](const ConsoleWriter& w) { w.events.finished(deviceReady); });
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
    .exchangeFailed = OnExchangeFailed,
    .busChanged = OnBusChanged,
    .bootloaderWaiting = OnBootloaderWaiting,
    .alreadyCurrent = OnAlreadyCurrent,
    .checkVerdict = OnCheckVerdict,
    .stopped = OnStopped,
    .finished = OnFinished,
};

}  // namespace

void RecorderInstall(const ConsoleWriter* const* writers, size_t count) {
    gWriterCount = count < MAX_WRITERS ? count : MAX_WRITERS;
    for (size_t i = 0; i < gWriterCount; ++i) gWriters[i] = writers[i];
    gBoxHeld = false;
    gRun = RunRecord{};
    gEvents = RECORDING_EVENTS;
}

void RecorderReset() {
    FlushRepeatedBox();
    RunRecord fresh;
    fresh.firstIdentified = gRun.firstIdentified;
    fresh.firstType = gRun.firstType;
    fresh.firstHi = gRun.firstHi;
    fresh.firstLo = gRun.firstLo;
    gRun = fresh;
}

const RunRecord& RecordedRun() { return gRun; }

void RecorderBox(const BoxShown& box) {
    if (gBoxHeld && SameBox(gHeldBox, box)) {
        ++gHeldBox.count;
        return;
    }
    FlushRepeatedBox();
    if (box.question) {
        for (size_t i = 0; i < gWriterCount; ++i) gWriters[i]->box(box);
        return;
    }
    gHeldBox = box;
    gHeldBox.count = 1;
    gBoxHeld = true;
}

void FlushRepeatedBox() {
    if (!gBoxHeld) return;
    gBoxHeld = false;
    for (size_t i = 0; i < gWriterCount; ++i) gWriters[i]->box(gHeldBox);
}

size_t WriterCount() { return gWriterCount; }

const ConsoleWriter& WriterAt(size_t index) { return *gWriters[index]; }
