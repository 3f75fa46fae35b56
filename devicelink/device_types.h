// Known device types and the page that holds each one's signature.
#pragma once

#include <cstdint>

constexpr uint8_t FIRST_DEVICE_TYPE = 0x81;
constexpr uint8_t LAST_DEVICE_TYPE = 0x86;

// Indexed by device type - 0x81.
constexpr uint8_t DEVICE_TYPE_LAST_PAGE[6] = {0x1D, 0x1D, 0x3E, 0x7C, 0x3E, 0x7C};

constexpr bool IsKnownDeviceType(uint8_t deviceType) {
    return deviceType >= FIRST_DEVICE_TYPE && deviceType <= LAST_DEVICE_TYPE;
}
