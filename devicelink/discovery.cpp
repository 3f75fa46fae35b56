#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "devicelink/identifiers.h"
#include "platform/seams.h"
#include "platform/update_events.h"
#include "usb/usb_access.h"

namespace {

// The device is in application mode: open it, tell it to restart into its
// bootloader, close it.
void SwitchToBootloader(UpdateJob& job) {
    OpenDevice(job);
    if (appModeMatched != 1) {
        // The open step found a device that is already in its bootloader and
        // left it open; close it so that its handle is not lost.
        if (job.handle != NO_DEVICE) CloseDevice(job);
        return;
    }
    job.switchedToBootloader = true;
    SendModeSwitch(job, MODE_SWITCH_PACKET);
    gEvents.restartRequested();
    CloseDevice(job);
}

// True when `deviceCount` devices are attached and the first one with a
// readable identification string runs its bootloader: what discovery needs
// to set deviceReady. While the restarted device is off the bus the count
// is lower, and another device in its bootloader may come first.
bool BootloaderFirst(uint32_t deviceCount) {
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK || count != deviceCount) return false;
    const uint32_t searched = DevicesToSearch(count);
    for (uint32_t i = 0; i < searched; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) continue;
        return IdEquals(id, BOOTLOADER_SERIAL);
    }
    return false;
}

}  // namespace

bool DiscoverDevice(UpdateJob& job) {
    deviceReady = 0;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK || count == 0) {
        ShowErrorBox();
        return false;
    }
    if (job.switchedToBootloader && count < job.deviceCount) {
        // The switched device is still off the bus: a bootloader found now
        // would be another device, which must not get this update.
        gEvents.switchedDeviceMissing(job.deviceCount, count);
        ShowErrorBox();
        return false;
    }
    job.deviceCount = count;
    const uint32_t searched = DevicesToSearch(count);
    for (uint32_t i = 0; i < searched; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) continue;  // skipped silently
        gEvents.deviceFound(i, ClassifyId(id), id.bytes, id.length);
        if (IdEquals(id, BOOTLOADER_SERIAL)) {
            deviceReady = 1;
            return true;
        }
        if (!IsAppModeName(id)) {
            ShowErrorBox();
            return false;
        }
        SwitchToBootloader(job);
        return true;
    }
    ShowErrorBox();
    return false;
}

void SendModeSwitch(UpdateJob& job, const uint8_t* packet) {
    uint32_t written = 0;
    if (LockedWrite(job.handle, packet, MODE_SWITCH_PACKET_LENGTH, &written) != USB_OK) return;
    const uint32_t start = gClock.tickCount();
    for (;;) {
        if (gClock.tickCount() - start >= REPLY_WINDOW_MS) return;
        uint32_t waiting = 0;
        if (LockedQueryRxQueue(job.handle, &waiting) != USB_OK) {
            ShowErrorBox();
            continue;
        }
        if (waiting >= 1) return;
    }
}

void CloseDevice(UpdateJob& job) {
    if (job.handle != NO_DEVICE && LockedClose(job.handle) != USB_OK) ShowErrorBox();
    job.handle = NO_DEVICE;
    job.lastPage = CLOSED_LAST_PAGE;
}

bool WaitForBootloader(uint32_t limitMs, uint32_t deviceCount) {
    const uint32_t start = gClock.tickCount();
    for (;;) {
        if (BootloaderFirst(deviceCount)) return true;
        if (gClock.tickCount() - start >= limitMs) return false;
        gClock.sleep(RESTART_POLL_MS);
    }
}

bool ListDevices() {
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK) return false;
    const uint32_t listed = DevicesToSearch(count);
    for (uint32_t i = 0; i < listed; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) {
            gEvents.deviceFound(i, DeviceKind::Unreadable, nullptr, 0);
        } else {
            gEvents.deviceFound(i, ClassifyId(id), id.bytes, id.length);
        }
    }
    return true;
}
