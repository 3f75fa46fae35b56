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

// What discovery does with the device it found: a bootloader sets
// deviceReady; an application-mode device is switched into its bootloader;
// anything else shows the "Error" box and gives false.
bool ActOnDevice(UpdateJob& job, const IdString& id) {
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

bool IsBootloader(uint32_t index) {
    IdString id;
    return ReadIdString(index, &id) == USB_OK && IdEquals(id, BOOTLOADER_SERIAL);
}

// Bootloaders on the bus that were not there at the first discovery
// (`fresh`, the last one's index in `freshIndex`) and those that were.
void CountBootloaders(const UpdateJob& job, uint32_t count, uint32_t* fresh, uint32_t* earlier, uint32_t* freshIndex) {
    *fresh = *earlier = 0;
    const uint32_t searched = DevicesToSearch(count) < JOB_DEVICE_SLOTS ? DevicesToSearch(count) : JOB_DEVICE_SLOTS;
    for (uint32_t i = 0; i < searched; ++i) {
        if (!IsBootloader(i)) continue;
        if (job.bootloaderBefore[i]) {
            ++*earlier;
        } else {
            ++*fresh;
            *freshIndex = i;
        }
    }
}

// Discovery of the device the job names. The first call acts on that
// device and notes which devices run their bootloader; after a mode switch
// the device is the one bootloader that was not on the bus before.
bool DiscoverChosenDevice(UpdateJob& job, uint32_t count) {
    const uint32_t searched = DevicesToSearch(count) < JOB_DEVICE_SLOTS ? DevicesToSearch(count) : JOB_DEVICE_SLOTS;
    if (job.switchedToBootloader) {
        uint32_t fresh = 0, earlier = 0, index = 0;
        CountBootloaders(job, count, &fresh, &earlier, &index);
        if (fresh != 1) {
            if (fresh > 0 || earlier > 0) gEvents.restartedDeviceAmbiguous(fresh, earlier);
            ShowErrorBox();
            return false;
        }
        IdString id;
        if (ReadIdString(index, &id) != USB_OK) {
            ShowErrorBox();
            return false;
        }
        gEvents.deviceFound(index, ClassifyId(id), id.bytes, id.length);
        job.targetIndex = index;
        deviceReady = 1;
        return true;
    }
    if (job.chosenDevice >= searched) {
        ShowErrorBox();
        return false;
    }
    for (uint32_t i = 0; i < searched; ++i) job.bootloaderBefore[i] = IsBootloader(i);
    IdString id;
    if (ReadIdString(job.chosenDevice, &id) != USB_OK) {
        gEvents.deviceFound(job.chosenDevice, DeviceKind::Unreadable, nullptr, 0);
        ShowErrorBox();
        return false;
    }
    gEvents.deviceFound(job.chosenDevice, ClassifyId(id), id.bytes, id.length);
    job.targetIndex = job.chosenDevice;
    return ActOnDevice(job, id);
}

}  // namespace

bool DiscoverDevice(UpdateJob& job) {
    deviceReady = 0;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK) {
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
    if (count == 0) {
        ShowErrorBox();
        return false;
    }
    job.deviceCount = count;
    if (job.chosenDevice != ANY_DEVICE) return DiscoverChosenDevice(job, count);
    const uint32_t searched = DevicesToSearch(count);
    for (uint32_t i = 0; i < searched; ++i) {
        IdString id;
        if (ReadIdString(i, &id) != USB_OK) continue;  // skipped silently
        gEvents.deviceFound(i, ClassifyId(id), id.bytes, id.length);
        return ActOnDevice(job, id);
    }
    ShowErrorBox();
    return false;
}

void SendModeSwitch(UpdateJob& job, const uint8_t* packet) {
    uint32_t written = 0;
    if (LockedWrite(job.handle, packet, MODE_SWITCH_PACKET_LENGTH, &written) != USB_OK) return;
    // As every reply wait: a last query once the window has closed.
    const uint32_t start = gClock.tickCount();
    for (;;) {
        const bool lastLook = gClock.tickCount() - start >= REPLY_WINDOW_MS;
        uint32_t waiting = 0;
        if (LockedQueryRxQueue(job.handle, &waiting) != USB_OK) {
            ShowErrorBox();
        } else if (waiting >= 1) {
            return;
        }
        if (lastLook) return;
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

bool WaitForFreshBootloader(uint32_t limitMs, const UpdateJob& job) {
    const uint32_t start = gClock.tickCount();
    for (;;) {
        uint32_t count = 0;
        if (LockedDeviceCount(&count) == USB_OK && count == job.deviceCount) {
            uint32_t fresh = 0, earlier = 0, index = 0;
            CountBootloaders(job, count, &fresh, &earlier, &index);
            if (fresh > 0) return true;
        }
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
