#include "runlog/recorder.h"

#include "bootloader/commands.h"
#include "runlog/text.h"

namespace {

RunRecord gNoRecord;
RunRecord* gRecord = &gNoRecord;
// The front end's own list of writers, the one list there is.
const RunWriter* const* gWriters = nullptr;
size_t gWriterCount = 0;

}  // namespace

// One case per event and no generic one: an event left out here fails to
// compile, so that the record never misses an event unnoticed.
void RecordEvent(RunRecord& run, const UpdateEvent& event) {
    std::visit(EventHandlers{
                   [&](const DeviceFound& e) {
                       run.deviceIndexKnown = true;
                       run.deviceIndex = e.index;
                       if (!run.deviceFound) {
                           run.deviceFound = true;
                           run.firstKind = e.kind;
                           run.firstId = Printable(e.id, e.length);
                       }
                       ++run.devicesListed;
                   },
                   [&](const DeviceCountFailed&) { run.deviceCountFailed = true; },
                   [&](const RestartRequested&) { run.restartRequested = true; },
                   [&](const SwitchedDeviceMissing& e) {
                       run.switchedDeviceMissing = true;
                       run.devicesBefore = e.before;
                       run.devicesAfter = e.now;
                   },
                   [&](const RestartAwaited& e) {
                       run.restartAwaited = true;
                       run.restartEnd = e.end;
                       run.restartWaitedMs = e.waitedMs;
                   },
                   [&](const DeviceIdentified& e) {
                       if (!run.firstIdentified) {
                           run.firstIdentified = true;
                           run.firstType = e.deviceType;
                           run.firstHi = e.verHi;
                           run.firstLo = e.verLo;
                       }
                       run.identified = true;
                       run.deviceType = e.deviceType;
                       run.installedHi = e.verHi;
                       run.installedLo = e.verLo;
                       run.installedValid = e.signature == APP_SIGNATURE;
                   },
                   [&](const ImagePrepared& e) {
                       run.imagePrepared = true;
                       run.imageLoaded = e.loaded;
                       run.imageAccepted = e.accepted;
                       run.imageType = e.imageType;
                       run.imageHi = e.verHi;
                       run.imageLo = e.verLo;
                   },
                   [&](const QuestionAsked& e) { run.question = e.question; },
                   [&](const QuestionAnswered& e) {
                       run.answered = true;
                       run.answeredYes = e.yes;
                   },
                   [&](const ProgrammingStarted& e) {
                       run.programmingStarted = true;
                       run.pagesTotal = e.pages;
                   },
                   [&](const PageProgrammed& e) {
                       run.pagesWritten += e.written;
                       run.pagesVerified += e.verified;
                   },
                   [&](const SignatureWritten& e) { run.signatureWritten = e.acknowledged; },
                   [&](const SignatureConfirmed& e) { run.signatureConfirmed = e.valid; },
                   [&](const RunSent& e) { run.runSent = e.written; },
                   [&](const ExchangeFailed& e) {
                       if (run.failures++ == 0) run.failure = e.failure;
                   },
                   [&](const BusChanged& e) {
                       run.busChanged = true;
                       run.busPhase = e.phase;
                       run.busChange = e.change;
                       run.busDevicesBefore = e.devicesBefore;
                       run.busDevicesNow = e.devicesNow;
                   },
                   [&](const BootloaderWaiting& e) {
                       run.bootloaderWaiting = true;
                       run.waitingIndex = e.index;
                   },
                   [&](const AlreadyCurrent&) { run.alreadyCurrent = true; },
                   [&](const CheckFinished& e) {
                       run.verdictSeen = true;
                       run.verdict = e.verdict;
                   },
                   [&](const RunStopped& e) {
                       run.stopped = true;
                       run.stoppedWithFlashOpen = e.flashOpen;
                   },
                   [&](const Finished& e) {
                       run.finished = true;
                       run.deviceReady = e.deviceReady;
                   },
               },
               event);
}

void RecorderInstall(const RecorderSetup& setup) {
    gWriters = setup.writers;
    gWriterCount = setup.writers ? setup.count : 0;
    gRecord = setup.run;
    *gRecord = RunRecord{};
}

void RecorderTake(const UpdateEvent& event) {
    RecordEvent(*gRecord, event);
    for (size_t i = 0; i < gWriterCount; ++i) gWriters[i]->event(event);
}

void RecorderReset() {
    RunRecord fresh;
    fresh.firstIdentified = gRecord->firstIdentified;
    fresh.firstType = gRecord->firstType;
    fresh.firstHi = gRecord->firstHi;
    fresh.firstLo = gRecord->firstLo;
    *gRecord = fresh;
}
