// How a device names itself on the bus, and the packet that moves an
// application-mode device into its bootloader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "events/update_events.h"
#include "usb/usb_access.h"

// A device whose identification string equals this runs its bootloader.
constexpr char BOOTLOADER_SERIAL[] = "ar5w2~";

// A device whose identification string equals one of these runs its
// application. The empty entries match an empty string.
constexpr size_t APP_MODE_NAME_COUNT = 20;
constexpr size_t APP_MODE_NAME_SIZE = 10;
extern const char APP_MODE_NAMES[APP_MODE_NAME_COUNT][APP_MODE_NAME_SIZE];

constexpr size_t MODE_SWITCH_PACKET_LENGTH = 32;
extern const uint8_t MODE_SWITCH_PACKET[MODE_SWITCH_PACKET_LENGTH];

// True when `id` equals one of APP_MODE_NAMES, tried in order.
bool IsAppModeName(const IdString& id);

// Bootloader, Application (an APP_MODE_NAMES entry) or Unknown.
DeviceKind ClassifyId(const IdString& id);

// No bus holds more devices than this; a larger count from the library is
// not believed beyond it, so that a broken count cannot stall the search.
constexpr uint32_t MAX_DEVICES_SEARCHED = 127;
uint32_t DevicesToSearch(uint32_t count);
