// lumaris-update: the update's core as a console program for scripts and
// production lines. It says what the core does while it does it (through the
// core's events), answers the questions from its options, and ends with an
// exit code that tells what the device holds. The bus it talks to comes from
// console_bus_sim.cpp (Linux) or console_bus_win32.cpp (Windows).
#include <cstdio>
#include <memory>
#include <string>

#include "console_bus.h"
#include "console_json.h"
#include "console_options.h"
#include "console_report.h"
#include "devicelink/device_link.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/console_platform.h"
#include "platform/seams.h"
#include "sha256.h"
#include "worker/update_worker.h"

#ifndef LUMARIS_VERSION
#define LUMARIS_VERSION "0.0.0"
#endif

namespace {

constexpr int EXIT_USAGE = 2;

// --info and --version: the built-in image, no device.
int ShowImage(const ConsoleOptions& options) {
    auto image = std::make_unique<UpdateJob>();
    CreateUpdateJob(*image);
    const bool loaded = LoadEmbeddedImage(*image);
    const ImageSummary summary = SummariseImage(*image);
    const std::string version = FormatVersion(summary.verHi, summary.verLo);
    if (!loaded) {
        ReportFailure(options.command, "image-not-loaded", "the built-in image does not load");
        return 1;
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
        ReportFailure(options.command, "no-library", error);
        return 1;
    }
    if (options.verbosity == ConsoleVerbosity::Verbose) InstallPacketTrace();

    switch (options.command) {
        case ConsoleCommand::List:
            gUsbLock.initialise();
            if (!ListDevices()) {
                gUsbLock.remove();
                ReportFailure(options.command, "no-device-count", "the USB library gave no device count");
                FinishBus();
                return 1;
            }
            gUsbLock.remove();
            break;
        case ConsoleCommand::Check: RunWorker(CheckSteps(options.restartWait)); break;
        default: RunWorker(UpdateSteps(options.restartWait)); break;
    }
    const ConsoleResult result = DecideResult(options.command, ReportedRun());
    // --list prints its devices, not a count, as its human output.
    if (options.command != ConsoleCommand::List || options.json) ReportResult(options.command, result);
    FinishBus();
    return result.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, ParseBusOption, &options, &error) || !BusOptionsAgree(&error)) {
        std::fprintf(stderr, "lumaris-update: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options.command == ConsoleCommand::Help) {
        std::fputs(CONSOLE_USAGE, stdout);
        std::fputs(BUS_USAGE, stdout);
        return 0;
    }

    ConsoleSystemInstall();
    ReportInstall(ReportSettings{options.json, options.verbosity, options.answers, ConsoleIsTerminal(stdin),
                                 ConsoleIsTerminal(stdout)});
    if (options.command == ConsoleCommand::Info || options.command == ConsoleCommand::Version) {
        return ShowImage(options);
    }
    return RunOnDevice(options);
}
