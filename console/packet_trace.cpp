#include "console/bus.h"
#include "console/report.h"
#include "usb/usb_library.h"

namespace {

UsbLibrary gTraced;

UsbStatus USB_CALL TracedWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* written,
                               void* overlapped) {
    const UsbStatus status = gTraced.write(handle, buffer, length, written, overlapped);
    if (status == USB_OK) ReportPacket(true, static_cast<const uint8_t*>(buffer), length);
    return status;
}

UsbStatus USB_CALL TracedRead(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* read, void* overlapped) {
    const UsbStatus status = gTraced.read(handle, buffer, length, read, overlapped);
    if (status == USB_OK) ReportPacket(false, static_cast<const uint8_t*>(buffer), *read <= length ? *read : length);
    return status;
}

}  // namespace

void InstallPacketTrace() {
    gTraced = gUsb;
    gUsb.write = TracedWrite;
    gUsb.read = TracedRead;
}
