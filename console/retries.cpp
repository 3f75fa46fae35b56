#include "console/retries.h"

#include <string>
#include <vector>

#include "console/device_survey.h"
#include "console/device_wait.h"
#include "console/interrupt.h"
#include "console/next_step_words.h"
#include "console/report.h"
#include "flashing/flashing.h"
#include "job/update_job.h"
#include "runlog/recorder.h"
#include "runlog/text.h"
#include "worker/update_worker.h"

namespace {

// More than one Lumaris device and no --device: list them, write nothing.
int AskForDeviceChoice(const ConsoleOptions& options, const std::vector<SeenDevice>& bus, size_t lumaris) {
    const bool quietWords = options.verbosity == ConsoleVerbosity::Quiet && !options.json;
    for (const SeenDevice& device : bus) {
        const uint8_t* id = device.readable ? device.id.data() : nullptr;
        ReportSurveyedDevice(device.index, device.kind, id, device.id.size());
        // The last line refers to this list: even -q shows it.
        if (quietWords) ReportLine(DeviceWords(device.index, device.kind, id, device.id.size()));
    }
    const RunResult result =
        MakeResult(Outcome::DeviceChoiceNeeded, DeviceState::Unchanged,
                   std::to_string(lumaris) + " Lumaris devices are attached: choose one with --device N (N as listed " +
                       "above); nothing was written");
    ReportRunResult(options.command, result);
    return result.exitCode;
}

// Whether a retry can prove which device is the one chosen, and its index,
// from the bus now. With one Lumaris device at the start and one now, that
// is the device. Otherwise the failed attempt must have kept its device on
// the bus: the bus now equals the bus when the attempt began, except that
// the device acted on now runs its bootloader.
bool ProveRetryDevice(size_t lumarisAtStart, const std::vector<SeenDevice>& began, const std::vector<SeenDevice>& now,
                      const RunRecord& run, uint32_t* device) {
    const auto lumaris = LumarisDevices(now);
    if (lumarisAtStart == 1 && lumaris.size() == 1) {
        *device = lumaris.front()->index;
        return true;
    }
    if (run.failure.fault == ExchangeFault::DeviceGone || !run.deviceIndexKnown) return false;
    if (began.size() != now.size() || run.deviceIndex >= now.size()) return false;
    for (size_t i = 0; i < now.size(); ++i)
        if (i != run.deviceIndex && !SameDevice(began[i], now[i])) return false;
    if (now[run.deviceIndex].kind != DeviceKind::Bootloader) return false;
    *device = run.deviceIndex;
    return true;
}

}  // namespace

bool Retryable(const RunResult& result, const RunRecord& run, const RunRequest& asked) {
    if (result.exitCode != static_cast<int>(ExitCode::Failed) &&
        result.exitCode != static_cast<int>(ExitCode::NoApplication))
        return false;
    if (run.failures == 0 || run.stopped || asked.stopRequested || run.answered) return false;
    switch (run.failure.fault) {
        case ExchangeFault::NoReply:
        case ExchangeFault::ShortRead:
        case ExchangeFault::ReadFailed:
        case ExchangeFault::DeviceGone: return true;
        default: return false;
    }
}

int RunWithRetries(const ConsoleOptions& options, RunContext& context, const RunRecord& record) {
    const uint32_t attempts = options.command == ConsoleCommand::Update ? options.retries + 1 : 1;
    context.attempts = attempts;
    RunResult result{};
    uint32_t brokenBy = 0;          // the attempt that left the device without a valid application
    size_t lumarisAtStart = 0;      // Lumaris devices attached when the first attempt began
    std::vector<SeenDevice> bus;    // the bus at the last survey
    std::vector<SeenDevice> began;  // the bus when the attempt began
    uint32_t device = options.device;
    for (uint32_t attempt = 1;; ++attempt) {
        context.attempt = attempt;
        ReportSetContext(context);
        if (attempt == 1) {
            if (options.waitDevice) {
                int exitCode = 0;
                if (!AwaitDevice(options, &bus, &exitCode)) return exitCode;
            } else if (!SurveyDevices(&bus)) {
                return ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
            }
            const auto lumaris = LumarisDevices(bus);
            lumarisAtStart = lumaris.size();
            if (device == ANY_DEVICE) {
                if (lumaris.size() > 1) return AskForDeviceChoice(options, bus, lumaris.size());
                // One device: that one, so that a bootloader that turns up
                // during its restart is not taken for it.
                if (lumaris.size() == 1 && bus.front().kind != DeviceKind::Unknown) device = lumaris.front()->index;
            }
        }
        began = bus;
        WorkerSteps steps = options.command == ConsoleCommand::Check ? CheckSteps(options.restartWait)
                                                                     : UpdateSteps(options.restartWait);
        if (options.command == ConsoleCommand::Update) steps.prepareImage = PrepareImageOrReturn;
        if (options.skipCurrent && options.command == ConsoleCommand::Update) steps.program = SkipCurrentOrProgram;
        steps.device = device;
        RunWorker(steps);
        const RunRecord& run = record;
        const RunRequest asked{.words = &CONSOLE_RESULT_WORDS,
                               .skipCurrent = options.skipCurrent,
                               .chosenDevice = options.device,
                               .fixedRestartWait = !options.restartWait.untilBootloader,
                               .restartWaitMs = options.restartWait.milliseconds,
                               .stopRequested = InterruptRequested()};
        result = DecideResult(RunCommandOf(options.command), run, asked);
        if (result.exitCode == static_cast<int>(ExitCode::NoApplication) && brokenBy == 0) brokenBy = attempt;
        if (attempt == attempts || !Retryable(result, run, asked)) break;
        if (!context.earlierFailure && run.failures > 0) {
            context.earlierFailure = true;
            context.firstFailure = run.failure;
        }
        // What cannot be proven to be the chosen device is not written.
        if (!SurveyDevices(&bus) || !ProveRetryDevice(lumarisAtStart, began, bus, run, &device)) {
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
