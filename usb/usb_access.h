// Every call into the USB library goes through one of these: enter UsbLock,
// make the one call, leave, and only then hand back the status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "usb/usb_library.h"

UsbStatus LockedDeviceCount(uint32_t* count);
UsbStatus LockedDeviceString(uint32_t index, uint8_t (&buffer)[DEVICE_STRING_SIZE], uint32_t selector);
UsbStatus LockedOpen(uint32_t index, DeviceHandle* handle);
UsbStatus LockedClose(DeviceHandle handle);
UsbStatus LockedRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead);
UsbStatus LockedWrite(DeviceHandle handle, const void* packet, uint32_t length, uint32_t* bytesWritten);
UsbStatus LockedSetup(DeviceHandle handle);
UsbStatus LockedQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting);

// A device's identification string: the bytes of its selector-0 string up
// to the first NUL, and never more than the 256 bytes of the buffer.
struct IdString {
    uint8_t bytes[DEVICE_STRING_SIZE];
    size_t length;
};

// Reads the identification string of device `index`. `id` is written only
// when the status is USB_OK.
UsbStatus ReadIdString(uint32_t index, IdString* id);

// Exact equality of whole byte strings: same length, same bytes.
bool IdEquals(const IdString& id, const char* text);
