// The Windows bus: SiUSBXp.dll from the program's folder or the system
// folder, bound by ordinal as the window program binds it.
#include "console/bus.h"
#include "console/options.h"
#include "usb/usb_library_win32.h"

const char BUS_USAGE[] =
    "\n"
    "The USB library SiUSBXp.dll is loaded from the program's own folder or the system folder.\n";

OptionParse ParseBusOption(const std::string&, const char*, ArgCursor&, std::string*) { return OptionParse::NotMine; }

bool BusOptionsAgree(std::string*) { return true; }

bool InstallBus(std::string* error) {
    if (BindUsbLibrary()) return true;
    *error =
        "SiUSBXp.dll could not be loaded from the program's folder or the system folder, or it lacks one of the "
        "ordinals 1, 2, 3, 4, 6, 7, 9, 12: put the library beside lumaris-update.exe";
    return false;
}

void FinishBus() {}
