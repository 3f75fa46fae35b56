#include "usb/usb_library.h"

namespace {
UsbStatus USB_CALL NotBoundCount(uint32_t*) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundString(uint32_t, void*, uint32_t) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundOpen(uint32_t, DeviceHandle*) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundClose(DeviceHandle) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundTransfer(DeviceHandle, void*, uint32_t, uint32_t*, void*) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundSetup(DeviceHandle, uint32_t, uint32_t) { return USB_NOT_BOUND; }
UsbStatus USB_CALL NotBoundQuery(DeviceHandle, uint32_t*, uint32_t*) { return USB_NOT_BOUND; }

constexpr UsbLibrary NOT_BOUND = {NotBoundCount,    NotBoundString,   NotBoundOpen,  NotBoundClose,
                                  NotBoundTransfer, NotBoundTransfer, NotBoundSetup, NotBoundQuery};
}  // namespace

UsbLibrary gUsb = NOT_BOUND;

void UnbindUsbLibrary() { gUsb = NOT_BOUND; }
