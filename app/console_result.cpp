#include "console_result.h"

#include "console_options.h"

namespace {

std::string Installed(const RunRecord& run) { return FormatVersion(run.installedHi, run.installedLo); }
std::string ImageVersion(const RunRecord& run) { return FormatVersion(run.imageHi, run.imageLo); }

std::string RefusalReason(const RunRecord& run) {
    if (!run.imageLoaded) return "the built-in image does not load";
    return "the image is for device type " + FormatByte(run.imageType) + ", the device is type " +
           FormatByte(run.deviceType);
}

// Failures before anything could be written.
ConsoleResult EarlyFailure(const RunRecord& run) {
    if (!run.deviceFound) return {"no-device", 1, "none", "no device found: nothing was written"};
    if (run.firstKind == DeviceKind::Unknown)
        return {"unknown-device", 1, "unchanged",
                "the first device (\"" + run.firstId + "\") is not a Lumaris device: nothing was written"};
    return {"no-bootloader", 1, "unchanged",
            "the device was not found in its bootloader or could not be identified: nothing was written"};
}

ConsoleResult RefusedResult(const RunRecord& run, const char* outcome) {
    if (run.installedValid)
        return {outcome, 1, "kept-application", "kept firmware " + Installed(run) + ": " + RefusalReason(run)};
    return {outcome, 1, "no-valid-application", "no valid application on the device, and " + RefusalReason(run)};
}

ConsoleResult CheckResult(const RunRecord& run) {
    if (!run.verdictSeen || !run.identified) return EarlyFailure(run);
    switch (run.verdict) {
        case CheckVerdict::Program:
            return {"would-program", 0, run.installedValid ? "kept-application" : "no-valid-application",
                    "check: an update would program firmware " + ImageVersion(run) + " over " + Installed(run) +
                        " without a question"};
        case CheckVerdict::AskOlder:
            return {"would-ask", 3, run.installedValid ? "kept-application" : "no-valid-application",
                    "check: an update would ask first: the image " + ImageVersion(run) +
                        " is older than the installed " + Installed(run)};
        case CheckVerdict::AskUnversioned:
            return {"would-ask", 3, run.installedValid ? "kept-application" : "no-valid-application",
                    "check: an update would ask first: the image has no version"};
        case CheckVerdict::Refuse: break;
    }
    ConsoleResult result = RefusedResult(run, "would-refuse");
    result.line = "check: an update would refuse the image: " + RefusalReason(run);
    return result;
}

}  // namespace

ConsoleResult DecideResult(ConsoleCommand command, const RunRecord& run) {
    if (command == ConsoleCommand::List) {
        return {"listed", 0, "unchanged", std::to_string(run.devicesListed) + " device(s) attached"};
    }
    if (command == ConsoleCommand::Check) return CheckResult(run);

    const bool everyPageVerified = run.pagesTotal > 0 && run.pagesVerified == run.pagesTotal;
    if (run.programmingStarted) {
        if (everyPageVerified && run.signatureConfirmed && run.runSent && run.finished && run.deviceReady)
            return {"updated", 0, "runs-image", "device runs firmware " + ImageVersion(run) + " (updated)"};
        if (everyPageVerified && run.signatureConfirmed)
            return {
                "not-started", 1, "holds-image",
                "device holds firmware " + ImageVersion(run) + " but was not told to start it: run the update again"};
        return {"programming-failed", 1, "no-valid-application",
                "no valid application on the device: run the update again"};
    }
    // The image step runs after a failed identification too (the device type
    // is then unknown, so the image is refused): the device was never seen.
    if (!run.identified) return EarlyFailure(run);
    if (run.answered && !run.answeredYes) {
        const char* what = run.question == VersionQuestion::OlderImage ? "older" : "unversioned";
        if (run.installedValid)
            return {"declined", 3, "kept-application",
                    "kept firmware " + Installed(run) + ": the " + what + " image was declined"};
        return {"declined", 1, "no-valid-application", "no valid application on the device: run the update again"};
    }
    if (run.imagePrepared && !run.imageAccepted) return RefusedResult(run, "refused");
    return {"failed", 1, run.installedValid ? "kept-application" : "no-valid-application",
            "the update did not start programming: nothing was written"};
}
