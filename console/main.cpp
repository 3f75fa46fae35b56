// lumaris-update: the update's core as a console program for scripts and
// production lines. It says what the core does while it does it (through the
// core's events), answers the questions from its options, and ends with an
// exit code that tells what the device holds. The bus it talks to comes from
// console_bus_sim.cpp (Linux) or console_bus_win32.cpp (Windows).
#include <cstdio>
#include <memory>
#include <string>

#include "console/bus.h"
#include "console/interrupt.h"
#include "console/json.h"
#include "console/options.h"
#include "console/report.h"
#include "console/sha256.h"
#include "devicelink/device_link.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/console_platform.h"
#include "platform/seams.h"
#include "worker/update_worker.h"

#ifndef LUMARIS_VERSION
#define LUMARIS_VERSION "0.0.0"
#endif

namespace {

// --info and --version: the built-in image, no device.
int ShowImage(const ConsoleOptions& options) {
    auto image = std::make_unique<UpdateJob>();
    CreateUpdateJob(*image);
    const bool loaded = LoadEmbeddedImage(*image);
    const ImageSummary summary = SummariseImage(*image);
    const std::string version = FormatVersion(summary.verHi, summary.verLo);
    if (!loaded) {
        return ReportFailure(options.command, Outcome::ImageNotLoaded, "the built-in image does not load");
    }
    if (options.command == ConsoleCommand::Version) {
        if (options.json) {
            JsonLine line = JsonEvent("version", ReportElapsedMs());
            JsonAddString(line, "program_version", LUMARIS_VERSION);
            JsonAddString(line, "image_version", version);
            JsonAddString(line, "image_type", FormatByte(summary.type));
            JsonWrite(line, stdout);
        } else {
            ReportLine("lumaris-update " LUMARIS_VERSION ", built-in firmware " + version + " for device type " +
                       FormatByte(summary.type));
        }
        return 0;
    }
    const std::string sha = Sha256Hex(image->ImageBuffer, sizeof image->ImageBuffer);
    if (options.json) {
        JsonLine line = JsonEvent("info", ReportElapsedMs());
        JsonAddString(line, "image_type", FormatByte(summary.type));
        JsonAddString(line, "image_version", version);
        JsonAddNumber(line, "first_page", summary.firstPage);
        JsonAddNumber(line, "last_page", summary.lastPage);
        JsonAddNumber(line, "pages", summary.pages);
        JsonAddNumber(line, "flash_image_bytes", sizeof image->ImageBuffer);
        JsonAddString(line, "sha256", sha);
        JsonWrite(line, stdout);
    } else {
        ReportLine("image: device type " + FormatByte(summary.type) + ", firmware " + version + ", pages " +
                   std::to_string(summary.firstPage) + ".." + std::to_string(summary.lastPage) + " (" +
                   std::to_string(summary.pages) + " with data)");
        ReportLine("sha256 of the " + std::to_string(sizeof image->ImageBuffer) + "-byte flash image: " + sha);
    }
    return 0;
}

int RunOnDevice(const ConsoleOptions& options) {
    std::string error;
    if (!InstallBus(&error)) {
        return ReportFailure(options.command, Outcome::NoLibrary, error);
    }
    if (options.verbosity == ConsoleVerbosity::Verbose) InstallPacketTrace();

    switch (options.command) {
        case ConsoleCommand::List:
            gUsbLock.initialise();
            if (!ListDevices()) {
                gUsbLock.remove();
                FinishBus();
                return ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
            }
            gUsbLock.remove();
            break;
        case ConsoleCommand::Check: RunWorker(CheckSteps(options.restartWait)); break;
        default: RunWorker(UpdateSteps(options.restartWait)); break;
    }
    RunRecord run = ReportedRun();
    run.stopRequested = InterruptRequested();
    const ConsoleResult result = DecideResult(options.command, run);
    // --list prints its devices, not a count, as its human output.
    if (options.command != ConsoleCommand::List || options.json) ReportResult(options.command, result);
    FinishBus();
    ConsoleRunEnded();
    return result.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, ParseBusOption, &options, &error) || !BusOptionsAgree(&error)) {
        std::fprintf(stderr, "lumaris-update: %s\n", error.c_str());
        return static_cast<int>(ExitCode::Usage);
    }
    if (options.command == ConsoleCommand::Help) {
        std::fputs(CONSOLE_USAGE, stdout);
        std::fputs(BUS_USAGE, stdout);
        return 0;
    }

    ConsoleSystemInstall();
    InterruptInstall();
    ReportInstall(ReportSettings{options.json, options.verbosity, options.answers, ConsoleIsTerminal(stdin),
                                 ConsoleIsTerminal(stdout)});
    if (options.command == ConsoleCommand::Info || options.command == ConsoleCommand::Version) {
        return ShowImage(options);
    }
    return RunOnDevice(options);
}
