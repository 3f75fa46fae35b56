// The device bus the console program talks to: the one part that differs
// between Linux (the simulated device, with its options) and Windows (the
// USB library beside the program).
#pragma once

#include <string>

#include "console/options.h"

// The bus's own options (console/bus_sim.cpp, console/bus_win32.cpp): Matched,
// NotMine, or Error with the one line to print in `error`.
OptionParse ParseBusOption(const std::string& name, const char* inlineValue, ArgCursor& args, std::string* error);
// The bus's part of --help.
extern const char BUS_USAGE[];

// Whether the bus's options agree with each other; if not, the line to
// print in `error` (a usage error).
bool BusOptionsAgree(std::string* error);

// Puts the bus's library table in gUsb and names in `library` what it
// bound (the USB library's path, or the simulated bus). False, with the line
// to print in `error`, when there is none to use.
bool InstallBus(std::string* library, std::string* error);

// Called once the command has ended (the simulated bus reports on it when
// asked to).
void FinishBus();

// Wraps the table's write and read rows so that every packet sent and every
// reply read reaches ReportPacket (-v; console/packet_trace.cpp).
void InstallPacketTrace();
