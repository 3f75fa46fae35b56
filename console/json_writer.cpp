// The run as one JSON object per line on standard output (--json); nothing
// else goes there.
#include <cstdio>

#include "console/json.h"
#include "console/recorder.h"
#include "console/report.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/seams.h"

namespace {

JsonLine Event(const char* name) { return JsonEvent(name, ReportElapsedMs()); }
void Emit(JsonLine& line) { JsonWrite(line, stdout); }

void EmitBare(const char* name) {
    JsonLine line = Event(name);
    Emit(line);
}

const char* CommandName(ConsoleCommand command) {
    return command == ConsoleCommand::Check ? "check" : command == ConsoleCommand::List ? "list" : "update";
}

void OnDeviceFound(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    JsonLine line = Event("device_found");
    JsonAddNumber(line, "index", index);
    JsonAddString(line, "kind", KindName(kind));
    if (id) {
        JsonAddBytes(line, "id", id, length);
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
    Emit(line);
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
    Emit(line);
}

void StopDeferred(uint32_t pagesLeft) {
    JsonLine line = Event("stop_deferred");
    JsonAddNumber(line, "pages_left", pagesLeft);
    Emit(line);
    std::fprintf(stderr,
                 "lumaris-update: stopping now would leave the device without firmware: the update finishes first "
                 "(%u page(s) left); press Ctrl+C again to stop at once\n",
                 pagesLeft);
    std::fflush(stderr);
}

void Result(ConsoleCommand command, const ConsoleResult& result, const RunRecord& run) {
    JsonLine line = Event("result");
    JsonAddString(line, "command", CommandName(command));
    JsonAddString(line, "outcome", result.outcome);
    JsonAddNumber(line, "exit_code", result.exitCode);
    JsonAddNumber(line, "pages_total", run.pagesTotal);
    JsonAddNumber(line, "pages_programmed", run.pagesWritten);
    JsonAddNumber(line, "pages_verified", run.pagesVerified);
    JsonAddBool(line, "signature_confirmed", run.signatureConfirmed);
    JsonAddBool(line, "run_sent", run.runSent);
    JsonAddString(line, "device_state", result.deviceState);
    if (run.identified) {
        JsonAddString(line, "device_type", FormatByte(run.deviceType));
        JsonAddString(line, "installed_version", FormatVersion(run.installedHi, run.installedLo));
    } else {
        JsonAddNull(line, "device_type");
        JsonAddNull(line, "installed_version");
    }
    if (run.imagePrepared && run.imageLoaded) {
        JsonAddString(line, "image_version", FormatVersion(run.imageHi, run.imageLo));
    } else {
        JsonAddNull(line, "image_version");
    }
    JsonAddNumber(line, "elapsed_ms", ReportElapsedMs());
    JsonAddString(line, "message", result.line);
    Emit(line);
}

void Failure(ConsoleCommand command, const ConsoleResult& result) {
    std::fprintf(stderr, "lumaris-update: %s\n", result.line.c_str());
    std::fflush(stderr);
    JsonLine line = Event("result");
    JsonAddString(line, "command", CommandName(command));
    JsonAddString(line, "outcome", result.outcome);
    JsonAddNumber(line, "exit_code", result.exitCode);
    JsonAddNumber(line, "pages_total", 0);
    JsonAddNumber(line, "pages_programmed", 0);
    JsonAddNumber(line, "pages_verified", 0);
    JsonAddBool(line, "signature_confirmed", false);
    JsonAddBool(line, "run_sent", false);
    JsonAddString(line, "device_state", result.deviceState);
    JsonAddNull(line, "device_type");
    JsonAddNull(line, "installed_version");
    JsonAddNull(line, "image_version");
    JsonAddNumber(line, "elapsed_ms", ReportElapsedMs());
    JsonAddString(line, "message", result.line);
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
};
