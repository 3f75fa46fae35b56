#include "console/result.h"

#include <utility>

#include "console/options.h"
#include "console/text.h"

namespace {

std::string Installed(const RunRecord& run) { return FormatVersion(run.installedHi, run.installedLo); }
std::string ImageVersion(const RunRecord& run) { return FormatVersion(run.imageHi, run.imageLo); }

// A valid application that was not told to run: the device sits in its
// bootloader although it holds firmware it could start.
bool WaitsInBootloader(const RunRecord& run) { return run.installedValid && !run.runSent; }

std::string WaitsLine(const RunRecord& run) {
    return "the device holds firmware " + Installed(run) + " but waits in its bootloader: unplug it or run again";
}

DeviceState Kept(const RunRecord& run) {
    if (!run.installedValid) return DeviceState::NoValidApplication;
    return run.runSent ? DeviceState::KeptApplication : DeviceState::BootloaderApplicationKept;
}

// " (cause)" when an exchange failed.
std::string Cause(const RunRecord& run) {
    return run.failures ? " (" + FailureWords(run.failure, run.pagesTotal) + ")" : "";
}

std::string RefusalReason(const RunRecord& run) {
    if (!run.imageLoaded) return "the built-in image does not load";
    return "the image is for device type " + FormatByte(run.imageType) + ", the device is type " +
           FormatByte(run.deviceType);
}

std::string DeviceName(const RunRecord& run) {
    return run.chosenDevice == 0xFFFFFFFF ? "the device" : "device " + std::to_string(run.chosenDevice);
}

// Failures before anything could be written.
ConsoleResult EarlyFailure(const RunRecord& run) {
    if (!run.deviceFound) {
        if (run.chosenDevice != 0xFFFFFFFF)
            return MakeResult(Outcome::NoDevice, DeviceState::None,
                              "no device " + std::to_string(run.chosenDevice) + " attached: nothing was written");
        return MakeResult(Outcome::NoDevice, DeviceState::None, "no device found: nothing was written");
    }
    if (run.switchedDeviceMissing || (run.restartRequested && run.restartEnd == RestartWaitEnd::TimedOut))
        return MakeResult(Outcome::SwitchedDeviceMissing, DeviceState::Unknown,
                          run.switchedDeviceMissing
                              ? "the device asked to restart did not come back (" + std::to_string(run.devicesBefore) +
                                    " device(s) attached before, " + std::to_string(run.devicesAfter) +
                                    " after): nothing was written; unplug it and plug it in again"
                              : "the device asked to restart was not seen in its bootloader within " +
                                    std::to_string(run.restartWaitedMs) +
                                    " ms: nothing was written; unplug it and plug it in again");
    if (run.restartedDeviceAmbiguous)
        return MakeResult(Outcome::RestartedDeviceAmbiguous, DeviceState::Unknown,
                          "after the restart " + std::to_string(run.freshBootloaders) + " new bootloader(s) and " +
                              std::to_string(run.earlierBootloaders) + " earlier one(s) are attached: which one is " +
                              DeviceName(run) + " cannot be told; nothing was written; attach one device at a time");
    if (run.firstKind == DeviceKind::Unknown)
        return MakeResult(Outcome::UnknownDevice, DeviceState::Unchanged,
                          "the first device (\"" + run.firstId + "\") is not a Lumaris device: nothing was written");
    return MakeResult(
        Outcome::NoBootloader, DeviceState::Unchanged,
        "the device was not found in its bootloader or could not be identified" + Cause(run) + ": nothing was written");
}

ConsoleResult RefusedResult(const RunRecord& run, Outcome outcome) {
    if (WaitsInBootloader(run))
        return MakeResult(outcome, DeviceState::BootloaderApplicationKept,
                          "image refused (" + RefusalReason(run) + "); " + WaitsLine(run));
    if (run.installedValid)
        return MakeResult(outcome, DeviceState::KeptApplication,
                          "kept firmware " + Installed(run) + ": " + RefusalReason(run));
    return MakeResult(outcome, DeviceState::NoValidApplication,
                      "no valid application on the device, and " + RefusalReason(run));
}

ConsoleResult InterruptedResult(const RunRecord& run) {
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
std::string VerdictLine(const RunRecord& run) {
    switch (run.verdict) {
        case CheckVerdict::Program:
            return "an update would program firmware " + ImageVersion(run) + " over " + Installed(run) +
                   " without a question";
        case CheckVerdict::AskOlder:
            return "an update would ask first: the image " + ImageVersion(run) + " is older than the installed " +
                   Installed(run);
        case CheckVerdict::AskUnversioned: return "an update would ask first: the image has no version";
        case CheckVerdict::Current:
            return run.skipCurrent ? "same version installed (" + Installed(run) + "): an update would skip it"
                                   : "same version installed (" + Installed(run) +
                                         "): an update would program it again (--skip-current skips it)";
        case CheckVerdict::Refuse: break;
    }
    return "an update would refuse the image: " + RefusalReason(run);
}

ConsoleResult CheckResult(const RunRecord& run) {
    if (run.stopped || run.stopRequested) return InterruptedResult(run);
    if (!run.verdictSeen || !run.identified) return EarlyFailure(run);
    if (WaitsInBootloader(run))
        return MakeResult(Outcome::RunNotSent, DeviceState::BootloaderApplicationKept,
                          "check: " + VerdictLine(run) + "; but " + WaitsLine(run) + Cause(run));
    Outcome outcome = Outcome::WouldRefuse;
    switch (run.verdict) {
        case CheckVerdict::Program: outcome = Outcome::WouldProgram; break;
        case CheckVerdict::AskOlder:
        case CheckVerdict::AskUnversioned: outcome = Outcome::WouldAsk; break;
        case CheckVerdict::Current: outcome = run.skipCurrent ? Outcome::WouldSkip : Outcome::WouldProgram; break;
        case CheckVerdict::Refuse: break;
    }
    ConsoleResult result =
        outcome == Outcome::WouldRefuse ? RefusedResult(run, outcome) : MakeResult(outcome, Kept(run), "");
    result.line = "check: " + VerdictLine(run);
    return result;
}

ConsoleResult ProgrammedResult(const RunRecord& run) {
    const bool everyPageVerified = run.pagesTotal > 0 && run.pagesVerified == run.pagesTotal;
    if (everyPageVerified && run.signatureConfirmed && run.runSent && run.finished && run.deviceReady)
        return MakeResult(Outcome::Updated, DeviceState::RunsImage,
                          "device runs firmware " + ImageVersion(run) + " (updated)");
    if (run.stopped) return InterruptedResult(run);
    if (everyPageVerified && run.signatureConfirmed)
        return MakeResult(
            Outcome::NotStarted, DeviceState::HoldsImage,
            "device holds firmware " + ImageVersion(run) + " but was not told to start it: run the update again");
    return MakeResult(Outcome::ProgrammingFailed, DeviceState::NoValidApplication,
                      "no valid application on the device: run the update again");
}

}  // namespace

ConsoleResult MakeResult(Outcome outcome, DeviceState state, std::string line) {
    return ConsoleResult{OutcomeText(outcome), static_cast<int>(OutcomeExitCode(outcome)), DeviceStateText(state),
                         std::move(line)};
}

ConsoleResult DecideResult(ConsoleCommand command, const RunRecord& run) {
    if (command == ConsoleCommand::List) {
        if (run.devicesListed == 0) return MakeResult(Outcome::Listed, DeviceState::None, "no devices attached");
        return MakeResult(Outcome::Listed, DeviceState::Unchanged,
                          std::to_string(run.devicesListed) + " device(s) attached");
    }
    if (command == ConsoleCommand::Check) return CheckResult(run);
    if (run.programmingStarted) return ProgrammedResult(run);
    // A stop request the core did not act on came at a question (answered
    // No) or after the last step.
    if (run.stopped || run.stopRequested) return InterruptedResult(run);
    // The image step runs after a failed identification too (the device type
    // is then unknown, so the image is refused): the device was never seen.
    if (!run.identified) return EarlyFailure(run);
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
        return MakeResult(Outcome::DeclinedNoApplication, DeviceState::NoValidApplication,
                          "no valid application on the device: run the update again");
    }
    if (run.imagePrepared && !run.imageAccepted) return RefusedResult(run, Outcome::Refused);
    if (WaitsInBootloader(run))
        return MakeResult(
            Outcome::Failed, DeviceState::BootloaderApplicationKept,
            "the update did not start programming" + Cause(run) + ": nothing was written; " + WaitsLine(run));
    return MakeResult(Outcome::Failed, Kept(run),
                      "the update did not start programming" + Cause(run) + ": nothing was written");
}
