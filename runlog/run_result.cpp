#include "runlog/run_result.h"

#include <utility>

#include "runlog/text.h"
#include "worker/update_worker.h"

namespace {

std::string Installed(const RunRecord& run) { return FormatVersion(run.installedHi, run.installedLo); }
std::string ImageVersion(const RunRecord& run) { return FormatVersion(run.imageHi, run.imageLo); }

// A valid application that was not told to run: the device sits in its
// bootloader although it holds firmware it could start.
bool WaitsInBootloader(const RunRecord& run) { return run.installedValid && !run.runSent; }

std::string WaitsLine(const RunRecord& run) {
    // A restart starts a valid application: running again may decline or
    // refuse again.
    return "the device holds firmware " + Installed(run) +
           " but waits in its bootloader: unplug it and plug it in again to start it";
}

DeviceState Kept(const RunRecord& run) {
    if (!run.installedValid) return DeviceState::NoValidApplication;
    return run.runSent ? DeviceState::KeptApplication : DeviceState::BootloaderApplicationKept;
}

// Flash writing was unlocked, but the first step, selecting the signature
// page, failed: no erase was sent.
bool NothingErased(const RunRecord& run) {
    return run.failures > 0 && run.failure.command == DeviceCommand::SelectPage && run.failure.pageIndex == 0 &&
           run.pagesWritten == 0 && !run.stopped;
}

// " (cause)" when an exchange failed.
std::string Cause(const RunRecord& run) {
    return run.failures ? " (" + FailureWords(run.failure, run.pagesTotal) + ")" : "";
}

std::string RefusalReason(const RunRecord& run) {
    if (!run.imageLoaded) return "the built-in image does not load";
    return "this firmware is for type " + HexByte(run.imageType) + "; the device is type " + HexByte(run.deviceType);
}

std::string DeviceName(const RunRequest& asked) {
    return asked.chosenDevice == 0xFFFFFFFF ? "the device" : "device " + std::to_string(asked.chosenDevice);
}

// The device asked to restart is not back. After a fixed wait it may only
// be slow: the polled wait gives it up to 10 s, and a device that came back
// meanwhile waits in its bootloader, where the next run finds it.
RunResult SwitchedDeviceMissingResult(const RunRecord& run, const RunRequest& asked) {
    std::string line = run.switchedDeviceMissing
                           ? "the device asked to restart did not come back (" + std::to_string(run.devicesBefore) +
                                 " device(s) attached before, " + std::to_string(run.devicesAfter) + " after)"
                           : "the device asked to restart was not seen in its bootloader within " +
                                 std::to_string(run.restartWaitedMs) + " ms";
    if (asked.fixedRestartWait && run.restartAwaited)
        line += " when the " + std::to_string(asked.restartWaitMs) + " ms wait ended: nothing was written; " +
                asked.words->waitLonger + ", which waits up to " + std::to_string(RESTART_POLL_LIMIT_MS) +
                " ms for a device that restarts slowly";
    else
        line += ": nothing was written; unplug it and plug it in again";
    return MakeResult(Outcome::SwitchedDeviceMissing, DeviceState::Unknown, line);
}

// Failures before anything could be written.
RunResult EarlyFailure(const RunRecord& run, const RunRequest& asked) {
    // Without a count nothing is known of the bus: not "no device".
    if (run.deviceCountFailed)
        return MakeResult(Outcome::NoDeviceCount, run.restartRequested ? DeviceState::Unknown : DeviceState::Unchanged,
                          "the USB library gave no device count" +
                              std::string(run.restartRequested ? " after the device was asked to restart" : "") +
                              ": nothing was written");
    if (!run.deviceFound) {
        if (asked.chosenDevice != 0xFFFFFFFF)
            return MakeResult(Outcome::NoDevice, DeviceState::None,
                              "no device " + std::to_string(asked.chosenDevice) + " attached: nothing was written");
        return MakeResult(Outcome::NoDevice, DeviceState::None, "no device found: nothing was written");
    }
    if (run.switchedDeviceMissing || (run.restartRequested && run.restartEnd == RestartWaitEnd::TimedOut))
        return SwitchedDeviceMissingResult(run, asked);
    if (run.firstKind == DeviceKind::Unknown)
        return MakeResult(Outcome::UnknownDevice, DeviceState::Unchanged,
                          (asked.chosenDevice == 0xFFFFFFFF ? std::string("the first device") : DeviceName(asked)) +
                              " (\"" + run.firstId + "\") is not a Lumaris device: nothing was written");
    if (run.firstKind == DeviceKind::Application && !run.restartRequested)
        return MakeResult(Outcome::NoBootloader, DeviceState::Unchanged,
                          DeviceName(asked) + " runs its application and could not be asked to restart (its open or " +
                              "the restart request failed): nothing was written");
    return MakeResult(
        Outcome::NoBootloader, DeviceState::Unchanged,
        "the device was not found in its bootloader or could not be identified" + Cause(run) + ": nothing was written");
}

// The chosen device runs its application beside a waiting bootloader.
RunResult WaitingResult(const RunRecord& run, const RunRequest& asked) {
    const std::string waiting = std::to_string(run.waitingIndex);
    return MakeResult(Outcome::AnotherBootloaderPresent, DeviceState::Unchanged,
                      "device " + waiting + " waits in its bootloader, and after a restart " + DeviceName(asked) +
                          " could not be told from it: nothing was sent to either; update device " + waiting +
                          " first (" + asked.words->chooseDevice + waiting + ") or unplug it");
}

std::string BusChangeLine(const RunRecord& run) {
    return std::string(BusChangeWords(run.busChange)) + ", " + std::to_string(run.busDevicesBefore) +
           " device(s) attached before, " + std::to_string(run.busDevicesNow) + " now";
}

constexpr char PLUG_BETWEEN_RUNS[] = "; plug units in between runs, never during one";

// The bus changed before the flash key: nothing was written.
RunResult BusChangedResult(const RunRecord& run, const RunRequest& asked) {
    std::string line = "the bus changed during the restart of " + DeviceName(asked) + " (" + BusChangeLine(run) +
                       "): which unit is the chosen one cannot be proven, so nothing was written";
    DeviceState state = DeviceState::Unknown;
    if (run.runSent) {
        state = DeviceState::KeptApplication;
        line += "; the device runs firmware " + Installed(run) + " again";
    } else if (run.identified) {
        state = Kept(run);
        line += run.installedValid ? "; " + WaitsLine(run) : "; the device holds no valid application";
    } else {
        line += "; the device may wait in its bootloader: unplug it and plug it in again";
    }
    return MakeResult(Outcome::BusChangedDuringRestart, state, line + PLUG_BETWEEN_RUNS);
}

RunResult RefusedResult(const RunRecord& run, Outcome outcome) {
    if (WaitsInBootloader(run))
        return MakeResult(outcome, DeviceState::BootloaderApplicationKept,
                          "image refused (" + RefusalReason(run) + "); " + WaitsLine(run));
    if (run.installedValid)
        return MakeResult(outcome, DeviceState::KeptApplication,
                          "kept firmware " + Installed(run) + ": " + RefusalReason(run));
    return MakeResult(outcome, DeviceState::NoValidApplication,
                      "no valid application on the device, and " + RefusalReason(run));
}

RunResult InterruptedResult(const RunRecord& run) {
    if (run.stoppedWithFlashOpen)
        return MakeResult(Outcome::Interrupted, DeviceState::NoValidApplication,
                          "interrupted while programming: no valid application on the device: run the update again");
    if (!run.identified)
        return MakeResult(Outcome::Interrupted, DeviceState::Unchanged, "interrupted: nothing was written");
    if (run.runSent)
        return MakeResult(Outcome::Interrupted, DeviceState::KeptApplication,
                          "interrupted: nothing was written; the device runs firmware " + Installed(run) + " again");
    return MakeResult(Outcome::Interrupted, Kept(run),
                      run.installedValid ? "interrupted: nothing was written; the device holds firmware " +
                                               Installed(run) + " and waits in its bootloader"
                                         : "interrupted: nothing was written; the device holds no valid application");
}

// What the check found, in words.
std::string VerdictLine(const RunRecord& run, const RunRequest& asked) {
    switch (run.verdict) {
        case CheckVerdict::Program:
            return "an update would program firmware " + ImageVersion(run) + " over " + Installed(run) +
                   " without a question";
        case CheckVerdict::AskOlder:
            return "an update would ask first: the image " + ImageVersion(run) + " is older than the installed " +
                   Installed(run);
        case CheckVerdict::AskUnversioned: return "an update would ask first: the image has no version";
        case CheckVerdict::Current:
            return asked.skipCurrent ? "same version installed (" + Installed(run) + "): an update would skip it"
                                     : "same version installed (" + Installed(run) +
                                           "): an update would program it again (" + asked.words->skipCurrent + ")";
        case CheckVerdict::Refuse: break;
    }
    return "an update would refuse the image: " + RefusalReason(run);
}

RunResult CheckResult(const RunRecord& run, const RunRequest& asked) {
    if (run.stopped || asked.stopRequested) return InterruptedResult(run);
    if (run.busChanged) return BusChangedResult(run, asked);
    if (!run.verdictSeen || !run.identified) return EarlyFailure(run, asked);
    if (WaitsInBootloader(run))
        return MakeResult(Outcome::RunNotSent, DeviceState::BootloaderApplicationKept,
                          "check: " + VerdictLine(run, asked) + "; but " + WaitsLine(run) + Cause(run));
    Outcome outcome = Outcome::WouldRefuse;
    switch (run.verdict) {
        case CheckVerdict::Program: outcome = Outcome::WouldProgram; break;
        case CheckVerdict::AskOlder:
        case CheckVerdict::AskUnversioned: outcome = Outcome::WouldAsk; break;
        case CheckVerdict::Current: outcome = asked.skipCurrent ? Outcome::WouldSkip : Outcome::WouldProgram; break;
        case CheckVerdict::Refuse: break;
    }
    RunResult result =
        outcome == Outcome::WouldRefuse ? RefusedResult(run, outcome) : MakeResult(outcome, Kept(run), "");
    result.line = "check: " + VerdictLine(run, asked);
    return result;
}

RunResult ProgrammedResult(const RunRecord& run) {
    const bool everyPageVerified = run.pagesTotal > 0 && run.pagesVerified == run.pagesTotal;
    if (everyPageVerified && run.signatureConfirmed && run.runSent && run.finished && run.deviceReady) {
        if (run.busChanged)
            return MakeResult(Outcome::BusChangedDuringUpdate, DeviceState::RunsImage,
                              "the bus changed during the update (" + BusChangeLine(run) +
                                  "): the unit programmed may not be the chosen one; it runs firmware " +
                                  ImageVersion(run) + ": find out which unit that is" + PLUG_BETWEEN_RUNS);
        return MakeResult(Outcome::Updated, DeviceState::RunsImage,
                          "device runs firmware " + ImageVersion(run) + " (updated)");
    }
    if (run.stopped) return InterruptedResult(run);
    if (NothingErased(run))
        return MakeResult(Outcome::Failed, Kept(run),
                          "flash writing was unlocked, but selecting the signature page failed before any erase" +
                              Cause(run) + ": nothing was written" +
                              (WaitsInBootloader(run) ? "; " + WaitsLine(run) : std::string()));
    if (everyPageVerified && run.signatureConfirmed)
        return MakeResult(Outcome::NotStarted, DeviceState::HoldsImage,
                          "device holds firmware " + ImageVersion(run) +
                              " but was not told to start it: unplug it and plug it in again to start it");
    if (run.failures > 0 && run.failure.fault == ExchangeFault::DeviceGone)
        return MakeResult(Outcome::ProgrammingFailed, DeviceState::NoValidApplication,
                          "no valid application on the device, which left the bus: plug it in again and run the "
                          "update again");
    return MakeResult(Outcome::ProgrammingFailed, DeviceState::NoValidApplication,
                      "no valid application on the device: run the update again");
}

}  // namespace

const char* RunCommandName(RunCommand command) {
    return command == RunCommand::Check ? "check" : command == RunCommand::List ? "list" : "update";
}

const ResultWords PLAIN_RESULT_WORDS = {"run the update again with a longer restart wait", "device ",
                                        "an update told to skip it skips it", "answered Yes"};

RunResult MakeResult(Outcome outcome, DeviceState state, std::string line) {
    return RunResult{OutcomeText(outcome),
                     static_cast<int>(OutcomeExitCode(outcome)),
                     DeviceStateText(state),
                     std::move(line),
                     NextStepFor(outcome, state, false),
                     outcome,
                     state};
}

namespace {

RunResult Decide(RunCommand command, const RunRecord& run, const RunRequest& asked);

}  // namespace

RunResult DecideResult(RunCommand command, const RunRecord& run, const RunRequest& asked) {
    RunResult result = Decide(command, run, asked);
    // A device that left the bus in the middle of the run must be plugged
    // in again before anything else helps.
    if (run.failures > 0 && run.failure.fault == ExchangeFault::DeviceGone)
        result.next = NextStepFor(result.kind, result.state, true);
    return result;
}

namespace {

RunResult Decide(RunCommand command, const RunRecord& run, const RunRequest& asked) {
    if (command == RunCommand::List) {
        if (run.devicesListed == 0) return MakeResult(Outcome::Listed, DeviceState::None, "no devices attached");
        return MakeResult(Outcome::Listed, DeviceState::Unchanged,
                          std::to_string(run.devicesListed) + " device(s) attached");
    }
    if (run.bootloaderWaiting) return WaitingResult(run, asked);
    if (command == RunCommand::Check) return CheckResult(run, asked);
    if (run.programmingStarted) return ProgrammedResult(run);
    // A stop request the core did not act on came at a question (answered
    // No) or after the last step.
    if (run.stopped || asked.stopRequested) return InterruptedResult(run);
    if (run.busChanged) return BusChangedResult(run, asked);
    // The image step runs after a failed identification too (the device type
    // is then unknown, so the image is refused): the device was never seen.
    if (!run.identified) return EarlyFailure(run, asked);
    if (run.alreadyCurrent) {
        if (run.runSent && run.finished && run.deviceReady)
            return MakeResult(Outcome::Current, DeviceState::RunsImage,
                              "device runs firmware " + Installed(run) + " (current: nothing programmed)");
        return MakeResult(Outcome::RunNotSent, DeviceState::BootloaderApplicationKept,
                          "same version installed, nothing programmed; " + WaitsLine(run) + Cause(run));
    }
    if (run.answered && !run.answeredYes) {
        const char* what = run.question == VersionQuestion::OlderImage ? "older" : "unversioned";
        if (WaitsInBootloader(run))
            return MakeResult(Outcome::RunNotSent, DeviceState::BootloaderApplicationKept,
                              std::string("the ") + what + " image was declined; " + WaitsLine(run) + Cause(run));
        if (run.installedValid)
            return MakeResult(Outcome::Declined, DeviceState::KeptApplication,
                              "kept firmware " + Installed(run) + ": the " + what + " image was declined");
        // Running again asks again: a Yes is the step that installs it.
        return MakeResult(Outcome::DeclinedNoApplication, DeviceState::NoValidApplication,
                          std::string("no valid application on the device, and the ") + what +
                              " image was declined: the device stays in its bootloader until an update " +
                              asked.words->yesInstalls + " installs the image");
    }
    if (run.imagePrepared && !run.imageAccepted) return RefusedResult(run, Outcome::Refused);
    if (WaitsInBootloader(run))
        return MakeResult(
            Outcome::Failed, DeviceState::BootloaderApplicationKept,
            "the update did not start programming" + Cause(run) + ": nothing was written; " + WaitsLine(run));
    return MakeResult(Outcome::Failed, Kept(run),
                      "the update did not start programming" + Cause(run) + ": nothing was written");
}

}  // namespace
