// The Windows bus: SiUSBXp.dll from the program's folder or the system
// folder, bound by ordinal as the window program binds it. When it cannot be
// bound, the error line says what was tried and why it failed.
#include <string>

#include "console/bus.h"
#include "console/options.h"
#include "usb/usb_library_win32.h"

const char BUS_USAGE[] =
    "\n"
    "The USB library SiUSBXp.dll is loaded from the program's own folder or the system folder.\n";

OptionParse ParseBusOption(const std::string&, const char*, ArgCursor&, std::string*) { return OptionParse::NotMine; }

bool BusOptionsAgree(std::string*) { return true; }

bool InstallBus(std::string* library, std::string* error) {
    UsbLibraryProblem problem;
    if (BindUsbLibrary(&problem)) {
        *library = BoundUsbLibraryPath();
        return true;
    }
    *error = UsbLibraryProblemWords(problem, "lumaris-update.exe");
    return false;
}

void FinishBus() {}
