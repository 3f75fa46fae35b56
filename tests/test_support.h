// Shared set-up for the tests: the fake platform on a virtual clock and an
// empty simulated bus living on that clock.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/fake_platform.h"
#include "sim/sim_device.h"

// Installs the fake seams and an empty simulated bus; returns the bus.
SimBus& InstallTestWorld(uint32_t startTick = 1000);

// The packets written to the device, in order.
std::vector<std::vector<uint8_t>> WrittenPackets();
// The operations called, in order.
std::vector<SimOp> CalledOps();
