// The simulated bus's options (Linux): what each device is and does, as
// parsed from the command line; console/bus_sim.cpp builds the bus from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_device.h"

enum class ExtraKind : uint8_t { Application, Bootloader, Unknown };

// One more device: what it runs, its own type and installed version (the
// first device's when not given), and when it is plugged in.
struct ExtraDevice {
    ExtraKind kind;
    int deviceType;           // -1: as the first device
    int installed;            // -1: as the first device
    uint32_t arrivesAfterMs;  // 0: attached from the start
};

// One --fault: at the Nth packet on the bus, or at the Nth packet written to
// one device (its place on the bus: 0 the first, 1.. those of --more-devices).
struct FaultOption {
    SimFaultKind kind;
    uint32_t packet;
    int device;  // -1: the bus
};

struct SimOptions {
    int deviceType = -1;  // -1: the image's own type
    bool bootloader = false;
    bool noDevice = false;
    bool invalidApp = false;
    uint16_t installed = 0x005A;  // 0.90
    std::vector<FaultOption> faults;
    uint32_t replyDelayMs = 1;
    uint32_t eraseDelayMs = 20;
    uint32_t restartDelayMs = 500;
    uint32_t plugInAfterMs = 0;  // the first device is plugged in this long after the start (0: attached)
    std::vector<ExtraDevice> more;
    bool summary = false;
    std::vector<std::string> shaping;  // the options given that shape a device
};

extern SimOptions gSim;
