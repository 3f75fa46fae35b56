// The eight operations of the USB device library, one row per ordinal.
// On Windows the table is bound by ordinal from the library; elsewhere the
// simulated device fills it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/device_handle.h"

#if defined(_WIN32) && !defined(_WIN64)
#define USB_CALL __stdcall
#else
#define USB_CALL
#endif

// 0 is success; any other value is a failure whose kind is never examined.
using UsbStatus = int32_t;
constexpr UsbStatus USB_OK = 0;
// What every operation of an unbound table returns.
constexpr UsbStatus USB_NOT_BOUND = 0xFF;

// Size of the caller's buffer for a device string (ordinal 2).
constexpr size_t DEVICE_STRING_SIZE = 256;
constexpr uint32_t STRING_SELECTOR_ID = 0;
constexpr uint32_t STRING_SELECTOR_PROBE = 2;

struct UsbLibrary {
    UsbStatus(USB_CALL* getDeviceCount)(uint32_t* count);                                   // 1
    UsbStatus(USB_CALL* getDeviceString)(uint32_t index, void* buffer, uint32_t selector);  // 2
    UsbStatus(USB_CALL* open)(uint32_t index, DeviceHandle* handle);                        // 3
    UsbStatus(USB_CALL* close)(DeviceHandle handle);                                        // 4
    UsbStatus(USB_CALL* read)(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                              void* overlapped);  // 6
    UsbStatus(USB_CALL* write)(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesWritten,
                               void* overlapped);                                      // 7
    UsbStatus(USB_CALL* setup)(DeviceHandle handle, uint32_t first, uint32_t second);  // 9
    UsbStatus(USB_CALL* queryRxQueue)(DeviceHandle handle, uint32_t* bytesWaiting,
                                      uint32_t* queueStatus);  // 12
};

// Ordinals of the rows above, in the same order.
constexpr int USB_ORDINALS[8] = {1, 2, 3, 4, 6, 7, 9, 12};

// The table in use. Until something is bound, every row fails with
// USB_NOT_BOUND.
extern UsbLibrary gUsb;

// Makes every row fail with USB_NOT_BOUND (a missing library or ordinal).
void UnbindUsbLibrary();
