// The run as one JSON object per line on standard output (--json); nothing
// else goes there.
#include <cstdio>

#include "console/json.h"
#include "console/json_result.h"
#include "console/recorder.h"
#include "console/report.h"
#include "console/run_log.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/console_output.h"
#include "platform/seams.h"

namespace {

bool gScreen = false;
bool gLog = false;

JsonLine Event(const char* name) { return JsonEvent(name, ReportElapsedMs()); }

// A `progress` line may be left off the screen when it is not read in time
// (platform/console_output.h); the log holds every line.
void Emit(JsonLine& line, bool progress = false) {
    JsonClose(line);
    // The log first: a line seen on the screen is in the log already.
    if (gLog) RunLogPut(line.text);
    if (gScreen) ConsoleOutputPut(ConsoleStream::Out, line.text, progress);
}

void EmitBare(const char* name) {
    JsonLine line = Event(name);
    Emit(line);
}

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    JsonLine line = Event("device_found");
    JsonAddNumber(line, "index", index);
    JsonAddString(line, "kind", KindName(kind));
    if (id) {
        JsonAddId(line, "id", id, length);
    } else {
        JsonAddNull(line, "id");
    }
    Emit(line);
}

void OnRestartRequested() { EmitBare("restart_requested"); }

void OnSwitchedDeviceMissing(uint32_t before, uint32_t now) {
    JsonLine line = Event("switched_device_missing");
    JsonAddNumber(line, "devices_before", before);
    JsonAddNumber(line, "devices_now", now);
    Emit(line);
}

void OnRestartAwaited(uint32_t waitedMs, RestartWaitEnd end) {
    JsonLine line = Event("restart_awaited");
    JsonAddNumber(line, "waited_ms", waitedMs);
    JsonAddString(line, "end", RestartEndName(end));
    Emit(line);
}

void OnDeviceIdentified(uint8_t type, uint8_t verHi, uint8_t verLo, uint16_t) {
    JsonLine line = Event("device_identified");
    JsonAddString(line, "device_type", FormatByte(type));
    JsonAddString(line, "installed_version", FormatVersion(verHi, verLo));
    JsonAddBool(line, "signature_valid", RecordedRun().installedValid);
    Emit(line);
}

void OnImagePrepared(bool loaded, bool accepted, uint8_t type, uint8_t verHi, uint8_t verLo, uint32_t pages) {
    JsonLine line = Event("image_prepared");
    JsonAddBool(line, "loaded", loaded);
    JsonAddBool(line, "accepted", accepted);
    JsonAddString(line, "image_type", FormatByte(type));
    JsonAddString(line, "image_version", FormatVersion(verHi, verLo));
    JsonAddNumber(line, "pages", pages);
    Emit(line);
}

void OnQuestionAsked(VersionQuestion question) {
    JsonLine line = Event("question_asked");
    JsonAddString(line, "question", QuestionName(question));
    Emit(line);
}

void OnQuestionAnswered(VersionQuestion question, bool yes) {
    JsonLine line = Event("question_answered");
    JsonAddString(line, "question", QuestionName(question));
    JsonAddString(line, "answer", yes ? "yes" : "no");
    Emit(line);
}

void OnProgrammingStarted(uint32_t pages) {
    JsonLine line = Event("programming_started");
    JsonAddNumber(line, "pages", pages);
    Emit(line);
}

void OnPageProgrammed(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified) {
    JsonLine line = Event("page_programmed");
    JsonAddNumber(line, "page", page);
    JsonAddNumber(line, "index", index);
    JsonAddNumber(line, "total", total);
    JsonAddBool(line, "written", written);
    JsonAddBool(line, "verified", verified);
    Emit(line, true);
}

void OnSignatureWritten(bool acknowledged) {
    JsonLine line = Event("signature_written");
    JsonAddBool(line, "acknowledged", acknowledged);
    Emit(line);
}

void OnSignatureConfirmed(bool valid, uint16_t signature) {
    JsonLine line = Event("signature_confirmed");
    JsonAddBool(line, "valid", valid);
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned{signature});
    JsonAddString(line, "signature", text);
    Emit(line);
}

void OnRunSent(bool written) {
    JsonLine line = Event("run_sent");
    JsonAddBool(line, "written", written);
    Emit(line);
}

void OnExchangeFailed(const ExchangeFailure& failure) {
    JsonLine line = Event("failure");
    JsonAddFailureFields(line, failure);
    Emit(line);
}

void OnBusChanged(BusWatchPhase phase, BusChange change, uint32_t before, uint32_t now) {
    JsonLine line = Event("bus_changed");
    JsonAddString(line, "phase", BusPhaseName(phase));
    JsonAddString(line, "change", BusChangeName(change));
    JsonAddNumber(line, "devices_before", before);
    JsonAddNumber(line, "devices_now", now);
    Emit(line);
}

void OnBootloaderWaiting(uint32_t index) {
    JsonLine line = Event("bootloader_waiting");
    JsonAddNumber(line, "index", index);
    Emit(line);
}

void OnAlreadyCurrent() { EmitBare("already_current"); }

void OnCheckVerdict(CheckVerdict verdict) {
    JsonLine line = Event("check_verdict");
    JsonAddString(line, "verdict", VerdictName(verdict));
    Emit(line);
}

void OnStopped(bool flashOpen) {
    JsonLine line = Event("stopped");
    JsonAddBool(line, "flash_open", flashOpen);
    Emit(line);
}

void OnFinished(bool deviceReady) {
    JsonLine line = Event("finished");
    JsonAddBool(line, "device_ready", deviceReady);
    Emit(line);
}

const char* AnswerName(int answer) {
    switch (answer) {
        case ANSWER_OK: return "ok";
        case ANSWER_YES: return "yes";
        case ANSWER_NO: return "no";
        default: return "none";
    }
}

void Box(const BoxShown& box) {
    JsonLine line = Event("box");
    JsonAddWide(line, "text", box.text, box.textLength);
    JsonAddWide(line, "caption", box.caption, box.captionLength);
    JsonAddNumber(line, "style", box.style);
    JsonAddString(line, "answer", AnswerName(box.answer));
    JsonAddNumber(line, "count", box.count);
    Emit(line);
}

void Text(int x, int y, const wchar_t* text, size_t length) {
    JsonLine line = Event("text");
    JsonAddNumber(line, "x", x);
    JsonAddNumber(line, "y", y);
    JsonAddWide(line, "text", text, length);
    Emit(line);
}

void LoaderLine(const char* text) {
    JsonLine line = Event("loader_output");
    JsonAddString(line, "text", text);
    Emit(line);
}

void Packet(bool sent, const std::string& hex) {
    JsonLine line = Event(sent ? "packet_sent" : "reply_read");
    JsonAddString(line, "bytes", hex);
    Emit(line, true);
}

void StopDeferred(uint32_t pagesLeft) {
    JsonLine line = Event("stop_deferred");
    JsonAddNumber(line, "pages_left", pagesLeft);
    Emit(line);
    if (!gScreen) return;  // the screen's writer says it
    ConsoleOutputPut(ConsoleStream::Err,
                     "lumaris-update: stopping now would leave the device without firmware: the update finishes "
                     "first (" +
                         std::to_string(pagesLeft) +
                         " page(s) left); press Ctrl+C again to stop after the current exchange\n",
                     false);
}

void Result(ConsoleCommand command, const ConsoleResult& result, const RunRecord& run) {
    JsonLine line = Event("result");
    JsonAddResultFields(line, command, result, run);
    Emit(line);
}

void Failure(ConsoleCommand command, const ConsoleResult& result) {
    if (gScreen) ConsoleOutputPut(ConsoleStream::Err, "lumaris-update: " + result.line + "\n", false);
    const RunRecord none;
    JsonLine line = Event("result");
    JsonAddResultFields(line, command, result, none);
    Emit(line);
}

void Attempt(uint32_t attempt, uint32_t attempts, const ConsoleResult& after) {
    JsonLine line = Event("attempt");
    JsonAddNumber(line, "attempt", attempt);
    JsonAddNumber(line, "of", attempts);
    JsonAddString(line, "after", after.outcome);
    JsonAddString(line, "cause", RecordedRun().failures ? FaultName(RecordedRun().failure.fault) : "none");
    Emit(line);
}

}  // namespace

const ConsoleWriter JSON_WRITER = {
    .events =
        {
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
        },
    .box = Box,
    .text = Text,
    .loaderLine = LoaderLine,
    .packet = Packet,
    .stopDeferred = StopDeferred,
    .result = Result,
    .failure = Failure,
    .attempt = Attempt,
};

void JsonWriterTargets(bool screen, bool log) {
    gScreen = screen;
    gLog = log;
}
