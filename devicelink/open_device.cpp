#include <cstring>

#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "devicelink/device_types.h"
#include "devicelink/identifiers.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "usb/usb_access.h"

namespace {

enum class OpenCommand { Open, Close };

bool EndsInTilde(const IdString& id) { return id.length > 0 && id.bytes[id.length - 1] == '~'; }

// Opens device `index`: the selector-2 probe, the open, the post-open set-up.
bool OpenAndSetUp(UpdateJob& job, uint32_t index) {
    uint8_t probe[DEVICE_STRING_SIZE];
    if (LockedDeviceString(index, probe, STRING_SELECTOR_PROBE) != USB_OK) return false;
    DeviceHandle handle = NO_DEVICE;
    if (LockedOpen(index, &handle) != USB_OK) return false;
    job.handle = handle;
    return LockedSetup(job.handle) == USB_OK;
}

}  // namespace

void OpenDevice(UpdateJob& job) {
    OpenCommand command = OpenCommand::Open;
    std::strcpy(job.targetSerial, BOOTLOADER_SERIAL);
    appModeMatched = 0;
    job.handle = NO_DEVICE;

    // Find the device. A failed count searches nothing.
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK) {
        gEvents(DeviceCountFailed{});
        ShowErrorBox();
        command = OpenCommand::Close;
        count = 0;
    }
    bool found = false;
    uint32_t index = 0;
    uint32_t first = 0;
    uint32_t searched = DevicesToSearch(count);
    if (job.chosenDevice != ANY_DEVICE) {
        // Only the device discovery settled on.
        first = job.targetIndex;
        searched = job.targetIndex < searched ? job.targetIndex + 1 : 0;
    }
    for (uint32_t i = first; i < searched && !found; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) {
            // Nothing was read to match: end as for an unknown name.
            ShowErrorBox();
            return;
        }
        if (EndsInTilde(id)) {
            if (IdEquals(id, job.targetSerial)) {
                found = true;
                index = i;
            }
            continue;
        }
        if (!IsAppModeName(id)) return;  // an unknown device first: end silently
        appModeMatched = 1;
        found = true;
        index = i;
    }
    if (!found) {
        ShowErrorBox();
        command = OpenCommand::Close;
    }

    if (command == OpenCommand::Open) {
        if (!OpenAndSetUp(job, index)) {
            ShowErrorBox();
            command = OpenCommand::Close;
        } else if (appModeMatched == 1) {
            return;  // left open, not identified
        } else if (!IdentifyDevice(job)) {
            ShowErrorBox();
            command = OpenCommand::Close;
        } else {
            gEvents(DeviceIdentified{job.info.deviceType, job.info.appVerHi, job.info.appVerLo,
                                     static_cast<uint16_t>(job.info.signature)});
            return;
        }
    }

    // Clean up after a failure.
    CloseDevice(job);
    RescanDevices(job);
}

bool IdentifyDevice(UpdateJob& job) {
    if (job.handle == NO_DEVICE) return false;
    if (!ReadDeviceInfo(job)) {
        ShowErrorBox();
        return false;
    }
    if (!IsKnownDeviceType(job.info.deviceType)) {
        // Not a type this program knows: the reply's last byte is taken for a bad one.
        ReportExchangeFailure(job, DeviceCommand::GetInfo, NO_PAGE, ExchangeFault::BadReply, job.info.deviceType, 0);
        ShowErrorBox();
        return false;
    }
    job.lastPage = DEVICE_TYPE_LAST_PAGE[job.info.deviceType - FIRST_DEVICE_TYPE];
    return true;
}

void RescanDevices(UpdateJob& job) {
    job.deviceCount = 0;
    if (LockedDeviceCount(&job.deviceCount) != USB_OK) return;
    const uint32_t searched = DevicesToSearch(job.deviceCount);
    for (uint32_t i = 0; i < searched; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) ShowErrorBox();
    }
}
