#include "console/report.h"

#include <chrono>
#include <cstdio>
#include <cwchar>

#include "console/recorder.h"
#include "console/terminal.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/console_output.h"
#include "platform/console_platform.h"
#include "platform/seams.h"

namespace {

ReportSettings gSettings{};
RunContext gContext;
std::chrono::steady_clock::time_point gStart;

// Asks on standard input; anything but y or Y (an empty line, the end of
// the input, a stop request) is No.
int AskTerminal() {
    StdoutTerminal().EndProgress();
    ConsoleOutputPut(gSettings.json ? ConsoleStream::Err : ConsoleStream::Out, "answer [y/N]: ", false);
    return ConsoleReadYes() ? ANSWER_YES : ANSWER_NO;
}

int ReportBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    BoxShown box{
        text, WideLength(text), caption, WideLength(caption), style, (style & 0x0F) == BOX_YESNO, false, ANSWER_OK, "",
        1};
    box.error = !box.question && box.textLength == 5 && std::wcsncmp(text, L"Error", 5) == 0;
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
    RecorderBox(box);
    return box.answer;
}

void ReportText(int x, int y, const wchar_t* text, int count) {
    ForEachWriter([&](const ConsoleWriter& w) { w.text(x, y, text, count > 0 ? static_cast<size_t>(count) : 0); });
}

void ReportLoaderLine(const char* text) {
    ForEachWriter([&](const ConsoleWriter& w) { w.loaderLine(text); });
}

}  // namespace

void ReportInstall(const ReportSettings& settings) {
    gSettings = settings;
    gStart = std::chrono::steady_clock::now();
    StdoutTerminal().Configure(settings.stdoutIsTerminal && !settings.json);
    // The screen's writer, and the JSON writer for the log when it is not
    // the screen's already.
    const ConsoleWriter* writers[2] = {settings.json ? &JSON_WRITER : &HUMAN_WRITER, &JSON_WRITER};
    JsonWriterTargets(settings.json, settings.log);
    RecorderInstall(writers, !settings.json && settings.log ? 2 : 1);
    gUi = UiSeam{.messageBox = ReportBox, .drawText = ReportText};
    gOutput = OutputSeam{ReportLoaderLine};
}

const ReportSettings& ReportSettingsInUse() { return gSettings; }

const RunRecord& ReportedRun() { return RecordedRun(); }

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
    ForEachWriter([&](const ConsoleWriter& w) { w.packet(sent, hex); });
}

void ReportStopDeferred(uint32_t pagesLeft) {
    ForEachWriter([&](const ConsoleWriter& w) { w.stopDeferred(pagesLeft); });
}

void ReportResult(ConsoleCommand command, const ConsoleResult& result) {
    const uint32_t dropped = ConsoleOutputDropped();
    if (dropped > 0) {
        StdoutTerminal().EndProgress();
        ConsoleOutputPut(ConsoleStream::Err,
                         "lumaris-update: " + std::to_string(dropped) +
                             " progress line(s) were left out: standard output was not read in time" +
                             (gSettings.log ? " (the log holds every line)" : "") + "\n",
                         false);
    }
    ForEachWriter([&](const ConsoleWriter& w) { w.result(command, result, RecordedRun()); });
}

void ReportAttempt(uint32_t attempt, uint32_t attempts, const ConsoleResult& after) {
    ForEachWriter([&](const ConsoleWriter& w) { w.attempt(attempt, attempts, after); });
}

void ReportSetContext(const RunContext& context) { gContext = context; }

const RunContext& ReportContext() { return gContext; }

int ReportFailure(ConsoleCommand command, Outcome outcome, const std::string& message) {
    StdoutTerminal().EndProgress();
    const ConsoleResult result = MakeResult(outcome, DeviceState::Unknown, message);
    ForEachWriter([&](const ConsoleWriter& w) { w.failure(command, result); });
    return result.exitCode;
}

void ReportLine(const std::string& line) { StdoutTerminal().PrintLine(line); }
