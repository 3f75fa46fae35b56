#include "console/next_step_words.h"

const ResultWords CONSOLE_RESULT_WORDS = {"run the update again with --restart-wait auto", "--device ",
                                          "--skip-current skips it", "with --yes"};

std::string NextStepWords(NextStep step, bool windowProgram) {
    switch (step) {
        case NextStep::Nothing: return "nothing: the device is up to date";
        case NextStep::NothingOrYes:
            return windowProgram ? "nothing is needed; to install the image, run the update again and answer Yes"
                                 : "nothing is needed; to install the image, run the update again with --yes";
        case NextStep::InstallWithYes:
            return windowProgram ? "run the update again and answer Yes: the device holds no working firmware until "
                                   "the image is installed"
                                 : "run the update again with --yes: the device holds no working firmware until the "
                                   "image is installed";
        case NextStep::ReplugToStart: return "unplug the device and plug it in again: it starts the firmware it holds";
        case NextStep::RunAgainPluggedIn: return "run the update again now, with the device left plugged in";
        case NextStep::PlugInAndRunAgain:
            return "plug the device in again and run the update again: it waits in its bootloader for the update";
        case NextStep::RunAgain: return "run the update again";
        case NextStep::ReplugAndRunAgain: return "unplug the device, plug it in again and run the update again";
        case NextStep::PlugInAlone:
            return "check that the device to update is plugged in, alone, then run the update again";
        case NextStep::UseImageForType:
            return "this image is not for this device: use the update made for its device type";
        case NextStep::FindProgrammedUnit:
            return "another unit may have been written: check every unit on this PC, and plug units in between "
                   "runs, never during one";
        case NextStep::ChooseDevice:
            return windowProgram ? "plug in only the device to update, then run the update again"
                                 : "choose the device with --device N (--list shows them)";
        case NextStep::UpdateWaitingFirst:
            return windowProgram ? "unplug the other device, then run the update again"
                                 : "update the device that waits in its bootloader first (--device N), or unplug it";
        case NextStep::InstallLibrary:
            return "put the SiUSBXp.dll of the program's kind (x86 or x64) beside the program, then run it again";
        case NextStep::NewProgram: return "the program's built-in firmware does not load: use another copy of it";
        case NextStep::RunUpdate: return windowProgram ? "run the update" : "run the update (without --check) to do it";
    }
    return "unplug the device, plug it in again and run the update again";
}
