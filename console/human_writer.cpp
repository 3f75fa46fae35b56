#include "console/human_writer.h"

#include <cstdio>

#include "console/system/console_output.h"
#include "console/terminal.h"
#include "job/update_job.h"
#include "platform/plain_text.h"
#include "platform/seams.h"
#include "runlog/text.h"

namespace {

uint32_t NoTime() { return 0; }
const RunRecord NO_RECORD;
const RunContext NO_CONTEXT;
WriterInputs gInputs{&NO_RECORD, &NO_CONTEXT, NoTime};
ConsoleVerbosity gVerbosity = ConsoleVerbosity::Normal;
uint32_t gLastTenth = 0;

const RunRecord& Run() { return *gInputs.run; }
bool Normal() { return gVerbosity != ConsoleVerbosity::Quiet; }
bool Verbose() { return gVerbosity == ConsoleVerbosity::Verbose; }

// One line of human output (not in quiet mode).
void Say(const std::string& line) {
    if (Normal()) StdoutTerminal().PrintLine(line);
}

// A line that even quiet mode shows, on standard error there.
void Insist(const std::string& line) {
    if (Normal()) return StdoutTerminal().PrintLine(line);
    StdoutTerminal().EndProgress();
    ConsoleOutputPut(ConsoleStream::Err, line + "\n", false);
}

std::string Seconds() {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(gInputs.elapsedMs()) / 1000.0);
    return text;
}

void Tell(const DeviceFound& e) { Say(DeviceWords(e.index, e.kind, e.id, e.length)); }

void Tell(const RestartRequested&) { Say("asked the device to restart into its bootloader"); }

void Tell(const SwitchedDeviceMissing& e) {
    Say("the device asked to restart is not back: " + std::to_string(e.before) + " device(s) attached before, " +
        std::to_string(e.now) + " now; no other device is taken for it");
}

void Tell(const RestartAwaited& e) {
    const uint32_t waitedMs = e.waitedMs;
    switch (e.end) {
        case RestartWaitEnd::Waited: Say("waited " + std::to_string(waitedMs) + " ms for the restart"); break;
        case RestartWaitEnd::BootloaderSeen: Say("bootloader there after " + std::to_string(waitedMs) + " ms"); break;
        case RestartWaitEnd::TimedOut: Say("no bootloader after " + std::to_string(waitedMs) + " ms"); break;
        case RestartWaitEnd::BusChanged: Say("the wait ended after " + std::to_string(waitedMs) + " ms"); break;
    }
}

void Tell(const DeviceIdentified& e) {
    Say("device type " + HexByte(e.deviceType) + ", firmware " + FormatVersion(e.verHi, e.verLo) +
        " installed, application " + (Run().installedValid ? "signature valid" : "signature not valid"));
}

void Tell(const ImagePrepared& e) {
    if (!e.loaded) return Say("image: the built-in image does not load");
    Say("image: device type " + HexByte(e.imageType) + ", firmware " + FormatVersion(e.verHi, e.verLo) + ", " +
        std::to_string(e.pages) + " pages" + (e.accepted ? "" : ": refused for this device"));
}

void Tell(const QuestionAsked& e) {
    const RunRecord& run = Run();
    if (e.question == VersionQuestion::OlderImage) {
        Say("question: the image (firmware " + FormatVersion(run.imageHi, run.imageLo) +
            ") is older than the installed firmware " + FormatVersion(run.installedHi, run.installedLo) +
            "; program it?");
    } else {
        Say("question: the image has no version; program it?");
    }
}

void Tell(const ProgrammingStarted& e) {
    gLastTenth = 0;
    Say("programming " + std::to_string(e.pages) + " pages");
}

void ShowProgress(uint32_t index, uint32_t total) {
    if (!Normal() || total == 0) return;
    const unsigned percent = static_cast<unsigned>(uint64_t{index} * 100 / total);
    Terminal& terminal = StdoutTerminal();
    if (terminal.smart()) {
        constexpr unsigned WIDTH = 30;
        const auto filled = static_cast<unsigned>(uint64_t{index} * WIDTH / total);
        std::string bar(filled, '#');
        bar.append(WIDTH - filled, '.');
        char text[160];
        std::snprintf(text, sizeof text, "[%s] page %u of %u %3u%% %s ", bar.c_str(), index, total, percent,
                      Seconds().c_str());
        terminal.PrintProgress(text);
        if (index == total) terminal.EndProgress();
        return;
    }
    // Not a terminal: a line at every tenth of the pages.
    const auto tenth = static_cast<uint32_t>(uint64_t{index} * 10 / total);
    if (tenth == gLastTenth) return;
    gLastTenth = tenth;
    terminal.PrintProgress("page " + std::to_string(index) + " of " + std::to_string(total) + " (" +
                           std::to_string(percent) + "%), " + Seconds());
}

void Tell(const PageProgrammed& e) {
    if (e.verified) return ShowProgress(e.index, e.total);
    // The cause came as a failure line already.
    if (Run().failures == 0)
        Insist("page " + std::to_string(e.page) + " (" + std::to_string(e.index) + " of " + std::to_string(e.total) +
               ") " + (e.written ? "does not match the image" : "was not written"));
}

void Tell(const ExchangeFailed& e) { Insist(FailureWords(e.failure, Run().pagesTotal)); }

void Tell(const BusChanged& e) {
    Insist(std::string(e.phase == BusWatchPhase::Update ? "during the update: " : "during the restart: ") +
           BusChangeWords(e.change) + " (" + std::to_string(e.devicesBefore) + " device(s) attached before, " +
           std::to_string(e.devicesNow) + " now)");
}

void Tell(const BootloaderWaiting& e) {
    Insist("device " + std::to_string(e.index) +
           " waits in its bootloader: the chosen device is not restarted beside it");
}

void Tell(const AlreadyCurrent&) { Say("same version installed: nothing to program (--skip-current)"); }

void Tell(const SignatureWritten& e) {
    if (!e.acknowledged) Say("the signature write was not acknowledged");
}

void Tell(const SignatureConfirmed& e) {
    Say(e.valid ? "signature written and read back" : "the signature read back is not valid");
}

void Tell(const RunSent& e) { Say(e.written ? "run command sent" : "the run command could not be sent"); }

void Tell(const RunStopped& e) {
    Say(e.flashOpen ? "stopped while programming, as asked" : "stopped before anything was written, as asked");
}

// The events a person is not told of here: the failed count, the answer
// and the check's verdict are in the box and the result line, the end in
// the result.
template <typename Event>
void Tell(const Event&) {}

void OnEvent(const UpdateEvent& event) {
    std::visit([](const auto& e) { Tell(e); }, event);
}

// The window program's boxes as they are with -v; otherwise only the
// answer to a question. What went wrong is said by the failure lines and
// the result, in the program's own words.
void Box(const BoxShown& box) {
    if (Verbose()) {
        std::string line = "box \"" + AsciiText(box.text, box.textLength) + "\" caption \"" +
                           AsciiText(box.caption, box.captionLength) + "\"";
        if (box.count > 1) line += " (" + std::to_string(box.count) + " times)";
        Say(line);
    }
    if (box.question) Say(std::string("answered ") + (box.answer == ANSWER_YES ? "yes" : "no") + box.answeredBy);
}

void Text(int x, int y, const wchar_t* text, size_t length) {
    if (Verbose())
        Say("window text (" + std::to_string(x) + "," + std::to_string(y) + ") \"" + AsciiText(text, length) + "\"");
}

void LoaderLine(const char* text) {
    if (Verbose()) Say(std::string("loader: ") + text);
}

void Packet(bool sent, const std::string& hex) {
    if (Normal()) StdoutTerminal().PrintLine(std::string(sent ? "  > " : "  < ") + hex, true);
}

void StopDeferred(uint32_t pagesLeft) { Insist(StopDeferredWords(pagesLeft)); }

// With --label the line starts with the label, as typed.
void Result(RunCommand, const RunResult& result) {
    const char* label = gInputs.context->label;
    StdoutTerminal().EndProgress();
    StdoutTerminal().PrintLine(label ? PrintableText(label) + ": " + result.line : result.line);
}

void Failure(RunCommand, const RunResult& result) {
    ConsoleOutputPut(ConsoleStream::Err, "lumaris-update: " + result.line + "\n", false);
}

// Not with -q: the result line says it if the wait runs out.
void WaitingForDevice(uint32_t device, uint32_t seconds) {
    Say("waiting for " + (device == ANY_DEVICE ? std::string("a Lumaris device") : "device " + std::to_string(device)) +
        " to be attached" + (seconds ? ", " + std::to_string(seconds) + " s at most" : std::string()) +
        " (Ctrl+C stops)");
}

void Attempt(uint32_t attempt, uint32_t attempts, const RunResult&) {
    Insist("attempt " + std::to_string(attempt) + " of " + std::to_string(attempts) +
           " after: " + AttemptCauseWords(Run().failure));
}

}  // namespace

const RunWriter HUMAN_WRITER = {
    .event = OnEvent,
    .box = Box,
    .text = Text,
    .loaderLine = LoaderLine,
    .packet = Packet,
    .stopDeferred = StopDeferred,
    .result = Result,
    .failure = Failure,
    .waitingForDevice = WaitingForDevice,
    .attempt = Attempt,
};

void HumanWriterStart(const WriterInputs& inputs, ConsoleVerbosity verbosity) {
    gInputs = inputs;
    gVerbosity = verbosity;
}

std::string StopDeferredWords(uint32_t pagesLeft) {
    return "stopping now would leave the device without firmware: the update finishes first (" +
           std::to_string(pagesLeft) + " page(s) left); press Ctrl+C again to stop after the current exchange";
}
