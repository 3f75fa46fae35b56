#include "usb/usb_access.h"

#include <cstring>

#include "platform/seams.h"

UsbStatus LockedDeviceCount(uint32_t* count) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.getDeviceCount(count);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedDeviceString(uint32_t index, uint8_t (&buffer)[DEVICE_STRING_SIZE], uint32_t selector) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.getDeviceString(index, buffer, selector);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedOpen(uint32_t index, DeviceHandle* handle) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.open(index, handle);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedClose(DeviceHandle handle) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.close(handle);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* bytesRead) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.read(handle, buffer, length, bytesRead, nullptr);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedWrite(DeviceHandle handle, const void* packet, uint32_t length, uint32_t* bytesWritten) {
    gUsbLock.enter();
    // The library's write takes a non-const buffer but does not change it.
    const UsbStatus status = gUsb.write(handle, const_cast<void*>(packet), length, bytesWritten, nullptr);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedSetup(DeviceHandle handle) {
    gUsbLock.enter();
    const UsbStatus status = gUsb.setup(handle, 1, 1);
    gUsbLock.leave();
    return status;
}

UsbStatus LockedQueryRxQueue(DeviceHandle handle, uint32_t* bytesWaiting) {
    uint32_t queueStatus = 0;  // not used
    gUsbLock.enter();
    const UsbStatus status = gUsb.queryRxQueue(handle, bytesWaiting, &queueStatus);
    gUsbLock.leave();
    return status;
}

UsbStatus ReadIdString(uint32_t index, IdString* id) {
    uint8_t buffer[DEVICE_STRING_SIZE] = {};
    const UsbStatus status = LockedDeviceString(index, buffer, STRING_SELECTOR_ID);
    if (status != USB_OK) {
        return status;
    }
    // Up to the first NUL, but never past the buffer: a library that fills
    // all 256 bytes without a NUL yields exactly those 256 bytes.
    const void* nul = std::memchr(buffer, 0, sizeof buffer);
    id->length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - buffer) : sizeof buffer;
    std::memcpy(id->bytes, buffer, id->length);
    return USB_OK;
}

bool IdEquals(const IdString& id, const char* text) {
    const size_t length = std::strlen(text);
    return id.length == length && std::memcmp(id.bytes, text, length) == 0;
}
