// The simulated device's bootloader: one command packet carried out on the
// device's flash as the device's own bootloader does it; SimWrite in
// sim_device.cpp hands it each packet written to a device in its bootloader.
#pragma once

#include <cstddef>
#include <cstdint>

struct SimDevice;

constexpr uint8_t SIM_REPLY_OK = 0x00;
constexpr uint8_t SIM_REPLY_REFUSED = 0x01;

// Carries out the command packet p[0 .. length-1] and puts its reply in
// `reply`; returns the reply's length (0: none, as for the run command).
// An erase sets `extraDelay` to the time it takes beyond its reply.
size_t SimBootloaderCommand(SimDevice* d, const uint8_t* p, uint32_t length, uint8_t* reply, uint32_t* extraDelay);

// Where `d`'s last page starts in its flash: the page that holds the
// installed version and the application signature.
size_t SimLastPageBase(const SimDevice* d);
