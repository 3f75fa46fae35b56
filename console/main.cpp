// lumaris-update: the update's core as a console program for scripts and
// production lines. It says what the core does while it does it (through the
// core's events), answers the questions from its options, and ends with an
// exit code that tells what the device holds. The bus it talks to comes from
// console/bus_sim.cpp (Linux) or console/bus_win32.cpp (Windows).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/bus.h"
#include "console/interrupt.h"
#include "console/options.h"
#include "console/report.h"
#include "console/run_log.h"
#include "console/show_log.h"
#include "devicelink/device_link.h"
#include "flashing/flashing.h"
#include "image/image_validation.h"
#include "image/sha256.h"
#include "job/update_job.h"
#include "platform/console_output.h"
#include "platform/console_platform.h"
#include "platform/seams.h"
#include "platform/update_events.h"
#include "runlog/json.h"
#include "runlog/json_writer.h"
#include "runlog/recorder.h"
#include "runlog/text.h"
#include "worker/update_worker.h"

#ifndef LUMARIS_VERSION
#define LUMARIS_VERSION "0.0.0"
#endif

namespace {

// The record of the run, kept by the recorder from the core's events.
RunRecord gRun;

struct ImageFacts {
    bool loaded;
    ImageSummary summary;
    std::string sha256;
};

void NoLine(const char*) {}

// The built-in image, loaded without its loader line.
ImageFacts LoadImageFacts() {
    auto image = std::make_unique<UpdateJob>();
    CreateUpdateJob(*image);
    const OutputSeam saved = gOutput;
    gOutput = OutputSeam{NoLine};
    const bool loaded = LoadEmbeddedImage(*image);
    gOutput = saved;
    return ImageFacts{loaded, SummariseImage(*image), Sha256Hex(image->ImageBuffer, sizeof image->ImageBuffer)};
}

// --info and --version: the built-in image, no device.
int ShowImage(const ConsoleOptions& options, const ImageFacts& image) {
    const ImageSummary& summary = image.summary;
    const std::string version = FormatVersion(summary.verHi, summary.verLo);
    if (!image.loaded) {
        return ReportFailure(options.command, Outcome::ImageNotLoaded, "the built-in image does not load");
    }
    if (options.command == ConsoleCommand::Version) {
        if (options.json) {
            JsonLine line = JsonEvent("version", ReportElapsedMs());
            JsonAddString(line, "program_version", LUMARIS_VERSION);
            JsonAddString(line, "image_version", version);
            JsonAddString(line, "image_type", HexByte(summary.type));
            JsonClose(line);
            ConsoleOutputPut(ConsoleStream::Out, line.text, false);
        } else {
            ReportLine("lumaris-update " LUMARIS_VERSION ", built-in firmware " + version + " for device type " +
                       HexByte(summary.type));
        }
        return 0;
    }
    if (options.json) {
        JsonLine line = JsonEvent("info", ReportElapsedMs());
        JsonAddString(line, "image_type", HexByte(summary.type));
        JsonAddString(line, "image_version", version);
        JsonAddNumber(line, "first_page", summary.firstPage);
        JsonAddNumber(line, "last_page", summary.lastPage);
        JsonAddNumber(line, "pages", summary.pages);
        JsonAddNumber(line, "flash_image_bytes", static_cast<int64_t>(IMAGE_SIZE));
        JsonAddString(line, "sha256", image.sha256);
        JsonClose(line);
        ConsoleOutputPut(ConsoleStream::Out, line.text, false);
    } else {
        ReportLine("image: device type " + HexByte(summary.type) + ", firmware " + version + ", pages " +
                   std::to_string(summary.firstPage) + ".." + std::to_string(summary.lastPage) + " (" +
                   std::to_string(summary.pages) + " with data)");
        ReportLine("sha256 of the " + std::to_string(IMAGE_SIZE) + "-byte flash image: " + image.sha256);
    }
    return 0;
}

struct SeenDevice {
    uint32_t index;
    DeviceKind kind;
    std::vector<uint8_t> id;
    bool readable;
};
std::vector<SeenDevice> gSurvey;

void Survey(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    gSurvey.push_back(
        SeenDevice{index, kind, id ? std::vector<uint8_t>(id, id + length) : std::vector<uint8_t>{}, id != nullptr});
}

// The Lumaris devices attached (application or bootloader), looked at
// without a word to the output; false when the bus gives no count.
bool SurveyDevices() {
    gSurvey.clear();
    const UpdateEvents saved = gEvents;
    UpdateEvents survey = NO_UPDATE_EVENTS;
    survey.deviceFound = Survey;
    gEvents = survey;
    gUsbLock.initialise();
    const bool counted = ListDevices();
    gUsbLock.remove();
    gEvents = saved;
    return counted;
}

std::vector<const SeenDevice*> LumarisDevices() {
    std::vector<const SeenDevice*> found;
    for (const SeenDevice& device : gSurvey)
        if (device.kind == DeviceKind::Application || device.kind == DeviceKind::Bootloader) found.push_back(&device);
    return found;
}

// More than one Lumaris device and no --device: list them, write nothing.
int AskForDeviceChoice(const ConsoleOptions& options, size_t lumaris) {
    for (const SeenDevice& device : gSurvey) {
        ReportSurveyedDevice(device.index, device.kind, device.readable ? device.id.data() : nullptr, device.id.size());
    }
    const RunResult result =
        MakeResult(Outcome::DeviceChoiceNeeded, DeviceState::Unchanged,
                   std::to_string(lumaris) + " Lumaris devices are attached: choose one with --device N (N as listed " +
                       "above); nothing was written");
    ReportRunResult(options.command, result);
    return result.exitCode;
}

// A failure that another attempt may mend: the device did not answer, or
// answered short, or left the bus.
bool Retryable(const RunResult& result, const RunRecord& run) {
    if (result.exitCode != static_cast<int>(ExitCode::Failed) &&
        result.exitCode != static_cast<int>(ExitCode::NoApplication))
        return false;
    if (run.failures == 0 || run.stopped || run.stopRequested || run.answered) return false;
    switch (run.failure.fault) {
        case ExchangeFault::NoReply:
        case ExchangeFault::ShortRead:
        case ExchangeFault::ReadFailed:
        case ExchangeFault::DeviceGone: return true;
        default: return false;
    }
}

bool SameDevice(const SeenDevice& a, const SeenDevice& b) {
    return a.index == b.index && a.kind == b.kind && a.readable == b.readable && a.id == b.id;
}

// Whether a retry can prove which device is the one chosen, and its index,
// from the bus now (gSurvey). With one Lumaris device at the start and one
// now, that is the device. Otherwise the failed attempt must have kept its
// device on the bus: the bus now equals the bus when the attempt began,
// except that the device acted on now runs its bootloader.
bool ProveRetryDevice(size_t lumarisAtStart, const std::vector<SeenDevice>& began, const RunRecord& run,
                      uint32_t* device) {
    const auto lumaris = LumarisDevices();
    if (lumarisAtStart == 1 && lumaris.size() == 1) {
        *device = lumaris.front()->index;
        return true;
    }
    if (run.failure.fault == ExchangeFault::DeviceGone || !run.deviceIndexKnown) return false;
    if (began.size() != gSurvey.size() || run.deviceIndex >= gSurvey.size()) return false;
    for (size_t i = 0; i < gSurvey.size(); ++i)
        if (i != run.deviceIndex && !SameDevice(began[i], gSurvey[i])) return false;
    if (gSurvey[run.deviceIndex].kind != DeviceKind::Bootloader) return false;
    *device = run.deviceIndex;
    return true;
}

int RunDevices(const ConsoleOptions& options, RunContext& context) {
    const uint32_t attempts = options.command == ConsoleCommand::Update ? options.retries + 1 : 1;
    context.attempts = attempts;
    RunResult result{};
    uint32_t brokenBy = 0;          // the attempt that left the device without a valid application
    size_t lumarisAtStart = 0;      // Lumaris devices attached when the first attempt began
    std::vector<SeenDevice> began;  // the bus when the attempt began
    uint32_t device = options.device;
    for (uint32_t attempt = 1;; ++attempt) {
        context.attempt = attempt;
        ReportSetContext(context);
        if (attempt == 1) {
            if (!SurveyDevices()) {
                return ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
            }
            const auto lumaris = LumarisDevices();
            lumarisAtStart = lumaris.size();
            if (device == ANY_DEVICE) {
                if (lumaris.size() > 1) return AskForDeviceChoice(options, lumaris.size());
                // One device: that one, so that a bootloader that turns up
                // during its restart is not taken for it.
                if (lumaris.size() == 1 && gSurvey.front().kind != DeviceKind::Unknown) device = lumaris.front()->index;
            }
        }
        began = gSurvey;
        WorkerSteps steps = options.command == ConsoleCommand::Check ? CheckSteps(options.restartWait)
                                                                     : UpdateSteps(options.restartWait);
        if (options.command == ConsoleCommand::Update) steps.prepareImage = PrepareImageOrReturn;
        if (options.skipCurrent && options.command == ConsoleCommand::Update) steps.program = SkipCurrentOrProgram;
        steps.device = device;
        RunWorker(steps);
        RunRecord run = gRun;
        run.stopRequested = InterruptRequested();
        run.skipCurrent = options.skipCurrent;
        run.chosenDevice = options.device;
        result = DecideResult(RunCommandOf(options.command), run);
        if (result.exitCode == static_cast<int>(ExitCode::NoApplication) && brokenBy == 0) brokenBy = attempt;
        if (attempt == attempts || !Retryable(result, run)) break;
        // What cannot be proven to be the chosen device is not written.
        if (!SurveyDevices() || !ProveRetryDevice(lumarisAtStart, began, run, &device)) {
            result.line += "; not retried: which device is the chosen one cannot be proven on the bus now";
            break;
        }
        ReportAttempt(attempt + 1, attempts, result);
        RecorderReset();
    }
    // Once an attempt erased the device, only a later success tells
    // otherwise: a later failure, whatever it found, leaves the device as
    // that attempt did, without a valid application. A stop on request
    // keeps its own code.
    if (brokenBy != 0 && result.exitCode == static_cast<int>(ExitCode::Interrupted)) {
        result = MakeResult(Outcome::Interrupted, DeviceState::NoValidApplication,
                            "interrupted: no valid application on the device since attempt " +
                                std::to_string(brokenBy) + ": run the update again");
    } else if (brokenBy != 0 && result.exitCode != static_cast<int>(ExitCode::Ok) &&
               result.exitCode != static_cast<int>(ExitCode::NoApplication)) {
        result = MakeResult(Outcome::ProgrammingFailed, DeviceState::NoValidApplication,
                            "no valid application on the device since attempt " + std::to_string(brokenBy) +
                                " (the last attempt: " + result.line + "): run the update again");
    }
    ReportRunResult(options.command, result);
    return result.exitCode;
}

int RunOnDevice(const ConsoleOptions& options, RunContext& context) {
    std::string error;
    if (!InstallBus(&error)) {
        return ReportFailure(options.command, Outcome::NoLibrary, error);
    }
    if (options.verbosity == ConsoleVerbosity::Verbose) InstallPacketTrace();
    int exitCode = 0;
    if (options.command == ConsoleCommand::List) {
        gUsbLock.initialise();
        const bool counted = ListDevices();
        gUsbLock.remove();
        if (!counted) {
            exitCode = ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
        } else {
            const RunResult result = DecideResult(RunCommand::List, gRun);
            // --list prints its devices, not a count, as its human output.
            if (options.json || gRun.devicesListed == 0) ReportRunResult(options.command, result);
            exitCode = result.exitCode;
        }
    } else {
        exitCode = RunDevices(options, context);
    }
    FinishBus();
    return exitCode;
}

unsigned gRequestsBeforeDrain = 0;

// Waiting for a reader that does not read, after the device is safe: a
// second stop request in all, or any new one, ends the program.
bool StopWhileDraining() {
    const unsigned requests = ConsoleInterruptCount();
    return requests >= 2 || requests > gRequestsBeforeDrain;
}

// Lets the output's thread write what is queued (the result among it), and
// ends the program without it when the user stops a wait for a reader that
// does not read: the exit code still tells the result.
int FinishOutput(int exitCode) {
    gRequestsBeforeDrain = ConsoleInterruptCount();
    if (!ConsoleOutputDrain(StopWhileDraining)) {
        // The output's thread may hold standard output's lock: no flush.
        std::_Exit(exitCode);
    }
    ConsoleRunEnded();
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    ConsoleUtf8Arguments(&argc, &argv);
    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, ParseBusOption, &options, &error) || !BusOptionsAgree(&error)) {
        ConsoleWrite(stderr, ("lumaris-update: " + error + '\n').c_str());
        return static_cast<int>(ExitCode::Usage);
    }
    if (options.command == ConsoleCommand::Help) {
        std::fputs(CONSOLE_USAGE, stdout);
        std::fputs(BUS_USAGE, stdout);
        return 0;
    }
    if (options.command == ConsoleCommand::ShowLog) return ShowLog(options.showLog, options.last, options.json);
    // The log is opened before anything reaches a device.
    if (options.logPath && !RunLogOpen(options.logPath, &error)) {
        const std::string line = "lumaris-update: --log: \"" + PrintableText(options.logPath) +
                                 "\" cannot be opened as a log: " + error + '\n';
        ConsoleWrite(stderr, line.c_str());
        return static_cast<int>(ExitCode::Usage);
    }

    ConsoleSystemInstall();
    InterruptInstall(gRun);
    ConsoleOutputStart();
    ReportInstall(ReportSettings{options.json, options.verbosity, options.answers, ConsoleIsTerminal(stdin),
                                 ConsoleIsTerminal(stdout), RunLogIsOpen()},
                  &gRun);
    const ImageFacts image = LoadImageFacts();
    RunContext context;
    context.programVersion = LUMARIS_VERSION;
    context.imageVersion = FormatVersion(image.summary.verHi, image.summary.verLo);
    context.imageSha256 = image.sha256;
    context.label = options.label;
    ReportSetContext(context);
    if (options.command == ConsoleCommand::Info || options.command == ConsoleCommand::Version) {
        return FinishOutput(ShowImage(options, image));
    }
    ReportRunStarted(argc, argv);
    const int exitCode = RunOnDevice(options, context);
    RunLogClose();
    return FinishOutput(exitCode);
}
