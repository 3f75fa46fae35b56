#include "console/report.h"

#include <chrono>
#include <cstdio>

#include "console/human_writer.h"
#include "console/log_option.h"
#include "console/report_hub.h"
#include "console/report_seams.h"
#include "console/system/console_output.h"
#include "console/terminal.h"
#include "runlog/json_writer.h"
#include "runlog/recorder.h"

namespace {

ReportSettings gSettings{};
RunContext gContext;
std::chrono::steady_clock::time_point gStart;

// The screen's writer, and the JSON writer for the log when it is not the
// screen's already.
const RunWriter* gWriters[2] = {&HUMAN_WRITER, nullptr};
size_t gWriterCount = 1;

void WriteBox(const BoxShown& box) {
    for (size_t i = 0; i < gWriterCount; ++i) gWriters[i]->box(box);
}

void ScreenPut(const std::string& line, bool progress) { ConsoleOutputPut(ConsoleStream::Out, line, progress); }
void LogPut(const std::string& line, bool) { RunLogPut(line); }

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
    RepeatedBoxesStart(WriteBox);
    RecorderInstall(RecorderSetup{run, gWriters, gWriterCount});
    ReportSeamsInstall(settings);
}

size_t ReportWriterCount() { return gWriterCount; }
const RunWriter& ReportWriter(size_t index) { return *gWriters[index]; }

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
    ForEachReportWriter([&](const RunWriter& w) { w.packet(sent, hex); });
}

void ReportStopDeferred(uint32_t pagesLeft) {
    ForEachReportWriter([&](const RunWriter& w) { w.stopDeferred(pagesLeft); });
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
    ForEachReportWriter([&](const RunWriter& w) { w.result(RunCommandOf(command), result); });
}

void ReportAttempt(uint32_t attempt, uint32_t attempts, const RunResult& after) {
    ForEachReportWriter([&](const RunWriter& w) { w.attempt(attempt, attempts, after); });
}

void ReportSetContext(const RunContext& context) { gContext = context; }

void ReportRunStarted(int argc, char** argv) {
    if (gSettings.log) JsonWriteRunStarted(argv + 1, argc - 1);
}

int ReportFailure(ConsoleCommand command, Outcome outcome, const std::string& message) {
    StdoutTerminal().EndProgress();
    const RunResult result = MakeResult(outcome, DeviceState::Unknown, message);
    ForEachReportWriter([&](const RunWriter& w) { w.failure(RunCommandOf(command), result); });
    TellBesideJson(result.line);
    return result.exitCode;
}

void ReportSurveyedDevice(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    ForEachReportWriter([&](const RunWriter& w) { w.event(DeviceFound{index, kind, id, length}); });
}

void ReportWaitingForDevice(uint32_t device, uint32_t seconds) {
    ForEachReportWriter([&](const RunWriter& w) { w.waitingForDevice(device, seconds); });
}

void ReportLine(const std::string& line) { StdoutTerminal().PrintLine(line); }
