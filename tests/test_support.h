// Shared set-up for the tests: the fake platform on a virtual clock and an
// empty simulated bus living on that clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "sim/sim_device.h"

// Installs the fake seams and an empty simulated bus; returns the bus.
SimBus& InstallTestWorld(uint32_t startTick = 1000);

// The packets written to the device, in order.
std::vector<std::vector<uint8_t>> WrittenPackets();
// The operations called, in order.
std::vector<SimOp> CalledOps();

struct UpdateJob;

// The embedded firmware image as the program loads it (ImageBuffer and
// PageMap), loaded once.
const UpdateJob& DemoImage();

// Fills a device's pages 10..125 with a recognisable old application.
void SimFillOldApplication(SimDevice* device, uint8_t fill);

// The device holds `image` in every page of 10..lastPage that the image
// carries (the bytes where the device keeps its signature aside), and
// `oldFill` in the other pages of that range.
bool DeviceHoldsImage(const SimDevice* device, const UpdateJob& image, uint8_t oldFill);

// Takes the devices off the bus and plugs them in again: each starts its
// application when it holds a valid one, else its bootloader.
void SimReplug();

// One Intel HEX record, ':' to checksum, without a line end; its checksum is
// off by `checksumError` when that is not 0.
std::string HexRecord(uint32_t address, uint8_t type, const std::vector<uint8_t>& data, int checksumError = 0);
