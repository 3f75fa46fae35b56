#include "devicelink/identifiers.h"

const char APP_MODE_NAMES[APP_MODE_NAME_COUNT][APP_MODE_NAME_SIZE] = {"2021"};

const uint8_t MODE_SWITCH_PACKET[MODE_SWITCH_PACKET_LENGTH] = {
    0x00, 0x16, 0xA8, 0x00, 0x00, 0x15,                                                    //
    'B',  'o',  'o',  't',  'l',  'o',  'a', 'd', ' ', 'e', 'n', 'a', 'b', 'l', 'e', 'd',  //
    // bytes 22..31 stay 0x00
};

bool IsAppModeName(const IdString& id) {
    for (const auto& name : APP_MODE_NAMES) {
        if (IdEquals(id, name)) return true;
    }
    return false;
}

DeviceKind ClassifyId(const IdString& id) {
    if (IdEquals(id, BOOTLOADER_SERIAL)) return DeviceKind::Bootloader;
    return IsAppModeName(id) ? DeviceKind::Application : DeviceKind::Unknown;
}

uint32_t DevicesToSearch(uint32_t count) { return count < MAX_DEVICES_SEARCHED ? count : MAX_DEVICES_SEARCHED; }
