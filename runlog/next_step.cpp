#include "runlog/next_step.h"

#include <cstring>

namespace {

constexpr const char* STEP_NAMES[] = {
    "nothing",
    "nothing-or-yes",
    "install-with-yes",
    "replug-to-start",
    "run-again-plugged-in",
    "plug-in-and-run-again",
    "run-again",
    "replug-and-run-again",
    "plug-in-alone",
    "use-image-for-type",
    "find-programmed-unit",
    "choose-device",
    "update-waiting-first",
    "install-library",
    "new-program",
    "run-update",
};
static_assert(sizeof STEP_NAMES / sizeof STEP_NAMES[0] == static_cast<size_t>(NextStep::RunUpdate) + 1,
              "one name per step");

// A device that holds a valid application and waits in its bootloader
// starts it when it restarts; one without a valid application waits for an
// update, unless it is gone.
NextStep ForState(DeviceState state, bool deviceLeft, NextStep otherwise) {
    switch (state) {
        case DeviceState::RunsImage: return NextStep::Nothing;
        case DeviceState::HoldsImage:
        case DeviceState::BootloaderApplicationKept: return NextStep::ReplugToStart;
        case DeviceState::NoValidApplication:
            return deviceLeft ? NextStep::PlugInAndRunAgain : NextStep::RunAgainPluggedIn;
        case DeviceState::Unknown: return NextStep::ReplugAndRunAgain;
        case DeviceState::KeptApplication:
        case DeviceState::Unchanged:
        case DeviceState::None: break;
    }
    return otherwise;
}

}  // namespace

NextStep NextStepFor(Outcome outcome, DeviceState state, bool deviceLeft) {
    switch (outcome) {
        case Outcome::Updated:
        case Outcome::Current:
        case Outcome::Listed: return ForState(state, deviceLeft, NextStep::Nothing);
        case Outcome::Declined:
        case Outcome::DeclinedNoApplication:
            // Running again asks again: only a Yes installs the image.
            if (state == DeviceState::NoValidApplication || outcome == Outcome::DeclinedNoApplication)
                return deviceLeft ? NextStep::PlugInAndRunAgain : NextStep::InstallWithYes;
            if (state == DeviceState::HoldsImage || state == DeviceState::BootloaderApplicationKept)
                return NextStep::ReplugToStart;
            return NextStep::NothingOrYes;
        case Outcome::Refused:
        case Outcome::WouldRefuse: return NextStep::UseImageForType;
        case Outcome::BusChangedDuringUpdate: return NextStep::FindProgrammedUnit;
        case Outcome::DeviceChoiceNeeded: return NextStep::ChooseDevice;
        case Outcome::AnotherBootloaderPresent: return NextStep::UpdateWaitingFirst;
        case Outcome::NoLibrary: return NextStep::InstallLibrary;
        case Outcome::ImageNotLoaded: return NextStep::NewProgram;
        case Outcome::WouldProgram:
        case Outcome::WouldSkip:
        case Outcome::WouldAsk: return ForState(state, deviceLeft, NextStep::RunUpdate);
        case Outcome::NoDevice: return NextStep::PlugInAlone;
        case Outcome::UnknownDevice: return NextStep::PlugInAlone;
        case Outcome::NoBootloader:
        case Outcome::SwitchedDeviceMissing:
        case Outcome::NoDeviceCount: return ForState(state, deviceLeft, NextStep::ReplugAndRunAgain);
        case Outcome::BusChangedDuringRestart: return ForState(state, deviceLeft, NextStep::PlugInAlone);
        case Outcome::NotStarted:
        case Outcome::ProgrammingFailed:
        case Outcome::Failed:
        case Outcome::Interrupted:
        case Outcome::RunNotSent: return ForState(state, deviceLeft, NextStep::RunAgain);
    }
    return NextStep::ReplugAndRunAgain;
}

const char* NextStepName(NextStep step) { return STEP_NAMES[static_cast<size_t>(step)]; }

bool NextStepFromName(const char* name, NextStep* step) {
    for (size_t i = 0; i < sizeof STEP_NAMES / sizeof STEP_NAMES[0]; ++i) {
        if (std::strcmp(name, STEP_NAMES[i]) == 0) {
            *step = static_cast<NextStep>(i);
            return true;
        }
    }
    return false;
}
