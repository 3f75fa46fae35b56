#include "console/report.h"

#include <chrono>
#include <cstdio>
#include <cwchar>

#include "console/human_writer.h"
#include "console/run_log.h"
#include "console/system/console_output.h"
#include "console/system/console_platform.h"
#include "console/terminal.h"
#include "platform/seams.h"
#include "runlog/json_writer.h"
#include "runlog/recorder.h"
#include "runlog/text.h"
#include "usb/usb_access.h"

namespace {

ReportSettings gSettings{};
RunContext gContext;
std::chrono::steady_clock::time_point gStart;

// The screen's writer, and the JSON writer for the log when it is not the
// screen's already.
const RunWriter* gWriters[2] = {&HUMAN_WRITER, nullptr};
size_t gWriterCount = 1;

// Identical boxes in a row (a wait whose every poll failed) are written
// once, with their count, when something else comes.
bool gBoxHeld = false;
BoxShown gHeldBox{};

bool SameBox(const BoxShown& a, const BoxShown& b) {
    return !a.question && !b.question && a.style == b.style && a.textLength == b.textLength &&
           a.captionLength == b.captionLength && std::wmemcmp(a.text, b.text, a.textLength) == 0 &&
           std::wmemcmp(a.caption, b.caption, a.captionLength) == 0;
}

void FlushRepeatedBox() {
    if (!gBoxHeld) return;
    gBoxHeld = false;
    for (size_t i = 0; i < gWriterCount; ++i) gWriters[i]->box(gHeldBox);
}

// Calls `call` with each writer in use, after a held box.
template <typename Call>
void ForEachWriter(Call call) {
    FlushRepeatedBox();
    for (size_t i = 0; i < gWriterCount; ++i) call(*gWriters[i]);
}

void HoldBox(const BoxShown& box) {
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

// A write or read that failed outright may mean that the device left the
// bus: the console asks the bus itself (the core does not, so that the
// window program's library calls are its own), and names that cause.
ExchangeFailure WithCause(const ExchangeFailure& reported) {
    ExchangeFailure failure = reported;
    if (failure.fault != ExchangeFault::WriteFailed && failure.fault != ExchangeFault::ReadFailed) return failure;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK || count < failure.devicesCounted)
        failure.fault = ExchangeFault::DeviceGone;
    return failure;
}

// The core's sink: a held box goes out first, then the event, with the
// console's cause of a failed exchange, to the recorder and the writers.
void ReportEvent(const UpdateEvent& event) {
    FlushRepeatedBox();
    if (const auto* failed = std::get_if<ExchangeFailed>(&event))
        return RecorderTake(ExchangeFailed{WithCause(failed->failure)});
    RecorderTake(event);
}

void ScreenPut(const std::string& line, bool progress) { ConsoleOutputPut(ConsoleStream::Out, line, progress); }
void LogPut(const std::string& line, bool) { RunLogPut(line); }

// Asks on standard input; anything but y or Y (an empty line, the end of
// the input, a stop request) is No.
int AskTerminal() {
    StdoutTerminal().EndProgress();
    ConsoleOutputPut(gSettings.json ? ConsoleStream::Err : ConsoleStream::Out, "answer [y/N]: ", false);
    return ConsoleReadYes() ? ANSWER_YES : ANSWER_NO;
}

int ReportBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    BoxShown box{
        text, WideLength(text), caption, WideLength(caption), style, (style & 0x0F) == BOX_YESNO, ANSWER_OK, "", 1};
    if (box.question) {
        switch (gSettings.answers) {
            case ConsoleAnswerMode::Yes:
                box.answer = ANSWER_YES;
                box.answeredBy = " (--yes)";
                break;
            case ConsoleAnswerMode::No:
                box.answer = ANSWER_NO;
                box.answeredBy = " (--no)";
                break;
            case ConsoleAnswerMode::Unset:
                if (gSettings.stdinIsTerminal) {
                    box.answer = AskTerminal();
                } else {
                    box.answer = ANSWER_NO;
                    box.answeredBy = " (no terminal to ask)";
                }
                break;
        }
    }
    HoldBox(box);
    return box.answer;
}

void ReportText(int x, int y, const wchar_t* text, int count) {
    ForEachWriter([&](const RunWriter& w) { w.text(x, y, text, count > 0 ? static_cast<size_t>(count) : 0); });
}

void ReportLoaderLine(const char* text) {
    ForEachWriter([&](const RunWriter& w) { w.loaderLine(text); });
}

// A line on standard error beside the JSON lines, which say it as an event.
void TellBesideJson(const std::string& line) {
    if (gSettings.json) ConsoleOutputPut(ConsoleStream::Err, "lumaris-update: " + line + "\n", false);
}

}  // namespace

void ReportInstall(const ReportSettings& settings, RunRecord* run) {
    gSettings = settings;
    gStart = std::chrono::steady_clock::now();
    StdoutTerminal().Configure(settings.stdoutIsTerminal && !settings.json);
    const WriterInputs inputs{run, &gContext, ReportElapsedMs};
    const bool verbose = settings.verbosity == ConsoleVerbosity::Verbose;
    HumanWriterStart(inputs, settings.verbosity);
    JsonWriterStart(
        JsonWriterSetup{inputs, settings.json ? ScreenPut : nullptr, settings.log ? LogPut : nullptr, verbose});
    gWriters[0] = settings.json ? &JSON_WRITER : &HUMAN_WRITER;
    gWriters[1] = &JSON_WRITER;
    gWriterCount = !settings.json && settings.log ? 2 : 1;
    gBoxHeld = false;
    RecorderInstall(RecorderSetup{run, gWriters, gWriterCount});
    gEvents = ReportEvent;
    gUi = UiSeam{.messageBox = ReportBox, .drawText = ReportText};
    gOutput = OutputSeam{ReportLoaderLine};
}

uint32_t ReportElapsedMs() {
    const auto elapsed = std::chrono::steady_clock::now() - gStart;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length) {
    if (gSettings.verbosity != ConsoleVerbosity::Verbose) return;
    std::string hex;
    for (uint32_t i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", unsigned{bytes[i]});
        hex += pair;
    }
    ForEachWriter([&](const RunWriter& w) { w.packet(sent, hex); });
}

void ReportStopDeferred(uint32_t pagesLeft) {
    ForEachWriter([&](const RunWriter& w) { w.stopDeferred(pagesLeft); });
    TellBesideJson(StopDeferredWords(pagesLeft));
}

void ReportRunResult(ConsoleCommand command, const RunResult& result) {
    const uint32_t dropped = ConsoleOutputDropped();
    if (dropped > 0) {
        StdoutTerminal().EndProgress();
        ConsoleOutputPut(ConsoleStream::Err,
                         "lumaris-update: " + std::to_string(dropped) +
                             " progress line(s) were left out: standard output was not read in time" +
                             (gSettings.log ? " (the log holds every line)" : "") + "\n",
                         false);
    }
    ForEachWriter([&](const RunWriter& w) { w.result(RunCommandOf(command), result); });
}

void ReportAttempt(uint32_t attempt, uint32_t attempts, const RunResult& after) {
    ForEachWriter([&](const RunWriter& w) { w.attempt(attempt, attempts, after); });
}

void ReportSetContext(const RunContext& context) { gContext = context; }

void ReportRunStarted(int argc, char** argv) {
    if (gSettings.log) JsonWriteRunStarted(argv + 1, argc - 1);
}

int ReportFailure(ConsoleCommand command, Outcome outcome, const std::string& message) {
    StdoutTerminal().EndProgress();
    const RunResult result = MakeResult(outcome, DeviceState::Unknown, message);
    ForEachWriter([&](const RunWriter& w) { w.failure(RunCommandOf(command), result); });
    TellBesideJson(result.line);
    return result.exitCode;
}

void ReportSurveyedDevice(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    ForEachWriter([&](const RunWriter& w) { w.event(DeviceFound{index, kind, id, length}); });
}

void ReportWaitingForDevice(uint32_t device, uint32_t seconds) {
    ForEachWriter([&](const RunWriter& w) { w.waitingForDevice(device, seconds); });
}

void ReportLine(const std::string& line) { StdoutTerminal().PrintLine(line); }
