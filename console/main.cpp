// lumaris-update: the update's core as a console program for scripts and
// production lines. It says what the core does while it does it (through the
// core's events), answers the questions from its options, and ends with an
// exit code that tells what the device holds. The bus it talks to comes from
// console/bus_sim.cpp (Linux) or console/bus_win32.cpp (Windows).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/bus.h"
#include "console/interrupt.h"
#include "console/log_option.h"
#include "console/options.h"
#include "console/report.h"
#include "console/retries.h"
#include "console/show_log.h"
#include "console/system/console_output.h"
#include "console/system/console_platform.h"
#include "devicelink/device_link.h"
#include "image/image_facts.h"
#include "job/update_job.h"
#include "platform/run_identity.h"
#include "platform/seams.h"
#include "runlog/json.h"
#include "runlog/text.h"

#ifndef LUMARIS_VERSION
#define LUMARIS_VERSION "0.0.0"
#endif

namespace {

// The record of the run, kept by the recorder from the core's events.
RunRecord gConsoleRecord;

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

// The bus is installed.
int RunOnDevice(const ConsoleOptions& options, RunContext& context) {
    if (options.verbosity == ConsoleVerbosity::Verbose) InstallPacketTrace();
    int exitCode = 0;
    if (options.command == ConsoleCommand::List) {
        gUsbLock.initialise();
        const bool counted = ListDevices();
        gUsbLock.remove();
        if (!counted) {
            exitCode = ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
        } else {
            const RunResult result = DecideResult(RunCommand::List, gConsoleRecord);
            // --list prints its devices, not a count, as its human output.
            if (options.json || gConsoleRecord.devicesListed == 0) ReportRunResult(options.command, result);
            exitCode = result.exitCode;
        }
    } else {
        exitCode = RunWithRetries(options, context, gConsoleRecord);
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
    // Before any file is opened: a log must never take standard output's place.
    ConsoleStandardStreamsStart();
    ConsoleUtf8Arguments(&argc, &argv);
    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, ParseBusOption, &options, &error) || !BusOptionsAgree(&error)) {
        // The line may echo what was typed: shown safe for a terminal.
        ConsoleWrite(stderr, ("lumaris-update: " + PrintableText(error) + '\n').c_str());
        return static_cast<int>(ExitCode::Usage);
    }
    if (options.command == ConsoleCommand::Help) {
        ConsoleWrite(stdout, CONSOLE_USAGE);
        ConsoleWrite(stdout, BUS_USAGE);
        return 0;
    }
    if (options.command == ConsoleCommand::ShowLog) return ShowLog(options.showLog, options.last, options.json);
    // The log is opened before anything reaches a device.
    if (options.logPath && !RunLogOpen(options.logPath, &error)) {
        const std::string line = "lumaris-update: --log: \"" + PrintableText(options.logPath) +
                                 "\" cannot be opened as a log: " + PrintableText(error) + '\n';
        ConsoleWrite(stderr, line.c_str());
        return static_cast<int>(ExitCode::Usage);
    }

    ConsoleSystemInstall();
    InterruptInstall(gConsoleRecord);
    ConsoleOutputStart();
    ReportInstall(ReportSettings{options.json, options.verbosity, options.answers, ConsoleIsTerminal(stdin),
                                 ConsoleIsTerminal(stdout), RunLogIsOpen()},
                  &gConsoleRecord);
    const ImageFacts image = ReadImageFacts();
    RunContext context;
    context.programVersion = LUMARIS_VERSION;
    context.imageVersion = FormatVersion(image.summary.verHi, image.summary.verLo);
    context.imageSha256 = image.sha256;
    context.label = options.label;
    context.runId = NewRunId();
    context.host = HostName();
    ReportSetContext(context);
    if (options.command == ConsoleCommand::Info || options.command == ConsoleCommand::Version) {
        return FinishOutput(ShowImage(options, image));
    }
    // The library is bound before the run starts, so that the log's first
    // line of the run names it, or why there is none.
    std::string busError;
    const bool bus = InstallBus(&context.usbLibrary, &busError);
    if (!bus) context.usbLibraryProblem = busError;
    ReportSetContext(context);
    ReportRunStarted(argc, argv);
    const int exitCode =
        bus ? RunOnDevice(options, context) : ReportFailure(options.command, Outcome::NoLibrary, busError);
    RunLogClose();
    return FinishOutput(exitCode);
}
