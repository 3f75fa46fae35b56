#include "runlog/outcome.h"

#include <iterator>

namespace {

struct OutcomeRow {
    Outcome outcome;
    const char* text;
    ExitCode exitCode;
};

constexpr OutcomeRow OUTCOMES[] = {
    {Outcome::Updated, "updated", ExitCode::Ok},
    {Outcome::Current, "current", ExitCode::Ok},
    {Outcome::NotStarted, "not-started", ExitCode::Failed},
    {Outcome::ProgrammingFailed, "programming-failed", ExitCode::NoApplication},
    {Outcome::Declined, "declined", ExitCode::NotProgrammed},
    {Outcome::DeclinedNoApplication, "declined", ExitCode::Failed},
    {Outcome::Refused, "refused", ExitCode::Failed},
    {Outcome::Failed, "failed", ExitCode::Failed},
    {Outcome::NoDevice, "no-device", ExitCode::Failed},
    {Outcome::UnknownDevice, "unknown-device", ExitCode::Failed},
    {Outcome::NoBootloader, "no-bootloader", ExitCode::Failed},
    {Outcome::SwitchedDeviceMissing, "switched-device-missing", ExitCode::Failed},
    {Outcome::Interrupted, "interrupted", ExitCode::Interrupted},
    {Outcome::RunNotSent, "run-not-sent", ExitCode::Failed},
    {Outcome::DeviceChoiceNeeded, "device-choice-needed", ExitCode::Usage},
    {Outcome::BusChangedDuringRestart, "bus-changed-during-restart", ExitCode::Failed},
    {Outcome::BusChangedDuringUpdate, "bus-changed-during-update", ExitCode::OtherUnit},
    {Outcome::AnotherBootloaderPresent, "another-bootloader-present", ExitCode::Usage},
    {Outcome::WouldProgram, "would-program", ExitCode::Ok},
    {Outcome::WouldSkip, "would-skip", ExitCode::Ok},
    {Outcome::WouldAsk, "would-ask", ExitCode::NotProgrammed},
    {Outcome::WouldRefuse, "would-refuse", ExitCode::Failed},
    {Outcome::Listed, "listed", ExitCode::Ok},
    {Outcome::NoLibrary, "no-library", ExitCode::Failed},
    {Outcome::NoDeviceCount, "no-device-count", ExitCode::Failed},
    {Outcome::ImageNotLoaded, "image-not-loaded", ExitCode::Failed},
};
static_assert(std::size(OUTCOMES) == static_cast<size_t>(Outcome::ImageNotLoaded) + 1, "one row per outcome");

constexpr bool RowsInOrder() {
    for (size_t i = 0; i < std::size(OUTCOMES); ++i) {
        if (static_cast<size_t>(OUTCOMES[i].outcome) != i) return false;
    }
    return true;
}
static_assert(RowsInOrder(), "the rows follow the enumeration");

constexpr const char* DEVICE_STATES[] = {
    "runs-image", "holds-image", "kept-application", "bootloader-application-kept", "no-valid-application",
    "unchanged",  "none",        "unknown",
};
static_assert(std::size(DEVICE_STATES) == static_cast<size_t>(DeviceState::Unknown) + 1, "one text per state");

}  // namespace

const char* OutcomeText(Outcome outcome) { return OUTCOMES[static_cast<size_t>(outcome)].text; }

ExitCode OutcomeExitCode(Outcome outcome) { return OUTCOMES[static_cast<size_t>(outcome)].exitCode; }

const char* DeviceStateText(DeviceState state) { return DEVICE_STATES[static_cast<size_t>(state)]; }
