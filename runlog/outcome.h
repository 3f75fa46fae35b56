// The console program's exit codes, run outcomes and device states, each
// named once with its text (and, for an outcome, its exit code) in one table.
#pragma once

#include <cstdint>

enum class ExitCode : int {
    Ok = 0,             // the device runs the image; --check: it would program without a question
    Failed = 1,         // failed, nothing erased: the device holds what it held, or (not-started) the
                        // image, valid but not started
    Usage = 2,          // a usage error, or a device must be chosen with --device
    NotProgrammed = 3,  // a question answered No over a valid application; --check: it would ask
    NoApplication = 4,  // this run left the device without a valid application: run the update again
    OtherUnit = 5,      // another unit may have been written: check every unit on this PC
    Interrupted = 130,  // stopped by Ctrl+C, Ctrl+Break, SIGINT, SIGTERM or a closed console
};

enum class Outcome : uint8_t {
    Updated,
    Current,  // --skip-current: the image's version was installed; nothing programmed
    NotStarted,
    ProgrammingFailed,
    Declined,               // over a valid application
    DeclinedNoApplication,  // over a device that holds no valid application
    Refused,
    Failed,
    NoDevice,
    UnknownDevice,
    NoBootloader,
    SwitchedDeviceMissing,
    Interrupted,
    RunNotSent,  // the device holds its valid application but waits in its bootloader
    DeviceChoiceNeeded,
    BusChangedDuringRestart,   // the bus changed otherwise than by the chosen device's restart
    BusChangedDuringUpdate,    // a device arrived while the image was written: maybe not the chosen unit
    AnotherBootloaderPresent,  // not restarted: another device waits in its bootloader
    WouldProgram,
    WouldSkip,
    WouldAsk,
    WouldRefuse,
    Listed,
    NoLibrary,
    NoDeviceCount,
    ImageNotLoaded,
};

enum class DeviceState : uint8_t {
    RunsImage,
    HoldsImage,
    KeptApplication,
    BootloaderApplicationKept,
    NoValidApplication,
    Unchanged,
    None,
    Unknown,
};

// The outcome's word in the output ("updated", "would-program", ...).
const char* OutcomeText(Outcome outcome);
ExitCode OutcomeExitCode(Outcome outcome);
// The state's word in the output ("runs-image", ...).
const char* DeviceStateText(DeviceState state);
