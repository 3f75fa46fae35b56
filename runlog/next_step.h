// What to do with a device after a run: one table, by the run's outcome and
// what the device holds, for the last line, the JSON result's `next` and a
// log read back. Each front end words the steps its own way (the console
// program names its options; the window program has none).
#pragma once

#include <cstdint>

#include "runlog/outcome.h"

enum class NextStep : uint8_t {
    Nothing,             // the device runs the image (or nothing was asked of it)
    NothingOrYes,        // it runs what it had; to install the image, answer Yes
    InstallWithYes,      // no valid application, the image declined: only a Yes helps
    ReplugToStart,       // its firmware is in and valid: a restart starts it
    RunAgainPluggedIn,   // no valid application: the bootloader waits for the update
    PlugInAndRunAgain,   // it left the bus: plug it in, then update again
    RunAgain,            // nothing changed on the device: try again
    ReplugAndRunAgain,   // the device may wait in its bootloader or be stuck
    PlugInAlone,         // check that the right device is plugged in, alone
    UseImageForType,     // the image is for another device type: this one will not do
    FindProgrammedUnit,  // another unit may have been written: check every unit
    ChooseDevice,        // several devices: name the one to update
    UpdateWaitingFirst,  // another device waits in its bootloader
    InstallLibrary,      // the USB library is missing or of the other kind
    NewProgram,          // the program's own image does not load
    RunUpdate,           // a check: the update would do what it says
};

// The step that works from what the run left. `deviceLeft`: the device left
// the bus during the run (its last exchange found it gone).
NextStep NextStepFor(Outcome outcome, DeviceState state, bool deviceLeft);

// The step's word in JSON (`next`): "nothing", "run-again-plugged-in", ...
const char* NextStepName(NextStep step);
// The step for a word of NextStepName; false when there is none.
bool NextStepFromName(const char* name, NextStep* step);
