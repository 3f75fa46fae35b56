#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "devicelink/identifiers.h"
#include "events/update_events.h"
#include "platform/seams.h"
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
    // Only a packet the library took restarts the device: after a failed
    // open (the write then goes to no handle) or a failed write the device
    // still runs its application, and the run goes on as without a switch.
    job.switchedToBootloader = SendModeSwitch(job, MODE_SWITCH_PACKET);
    if (job.switchedToBootloader) {
        gEvents(RestartRequested{});
        // A chosen device is watched from here: a bootloader that came
        // during the reply window, before the close lets the device go,
        // came before it left.
        if (job.chosenDevice != ANY_DEVICE) {
            job.watch = RestartWatch::Switched;
            WatchBusOnce(job);
        }
    }
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

// Discovery of the device the job names. The first call acts on that
// device; an application-mode device is switched only when no other device
// waits in its bootloader, and from then on the bus is watched
// (devicelink/bus_watch.cpp). After the restart the device is the one
// bootloader that came while the watch saw nothing else change.
bool DiscoverChosenDevice(UpdateJob& job, uint32_t count) {
    if (job.switchedToBootloader) {
        uint32_t index = 0;
        IdString id;
        if (!FindReturnedDevice(job, &index) || ReadIdString(index, &id) != USB_OK) {
            ShowErrorBox();
            return false;
        }
        gEvents(DeviceFound{index, ClassifyId(id), id.bytes, id.length});
        job.targetIndex = index;
        deviceReady = 1;
        return true;
    }
    if (job.chosenDevice >= DevicesToSearch(count)) {
        ShowErrorBox();
        return false;
    }
    uint32_t waiting = 0;
    const BusKinds kinds = ScanBus(count, &waiting);
    IdString id;
    if (ReadIdString(job.chosenDevice, &id) != USB_OK) {
        gEvents(DeviceFound{job.chosenDevice, DeviceKind::Unreadable, nullptr, 0});
        ShowErrorBox();
        return false;
    }
    const DeviceKind kind = ClassifyId(id);
    gEvents(DeviceFound{job.chosenDevice, kind, id.bytes, id.length});
    job.targetIndex = job.chosenDevice;
    if (kind == DeviceKind::Application && kinds.bootloader > 0) {
        // After the restart the two bootloaders could not be told apart.
        gEvents(BootloaderWaiting{waiting});
        ShowErrorBox();
        return false;
    }
    job.busBefore = kinds;
    if (!ActOnDevice(job, id)) return false;
    if (kind != DeviceKind::Application) return true;
    if (!job.switchedToBootloader) {
        // The device could not be asked to restart (its open or the
        // packet's write failed): nothing restarts, and the run ends.
        ShowErrorBox();
        return false;
    }
    return true;
}

}  // namespace

bool DiscoverDevice(UpdateJob& job) {
    deviceReady = 0;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK) {
        gEvents(DeviceCountFailed{});
        ShowErrorBox();
        return false;
    }
    if (job.switchedToBootloader && job.chosenDevice == ANY_DEVICE && count != job.deviceCount) {
        // Fewer devices: the switched device is still off the bus, so a
        // bootloader found now would be another device. More: a device
        // arrived during the wait, and the first bootloader may be that one.
        // Neither must get this update.
        if (count < job.deviceCount) {
            gEvents(SwitchedDeviceMissing{job.deviceCount, count});
        } else {
            gEvents(BusChanged{BusWatchPhase::Restart, BusChange::Arrival, job.deviceCount, count});
        }
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
        gEvents(DeviceFound{i, ClassifyId(id), id.bytes, id.length});
        return ActOnDevice(job, id);
    }
    ShowErrorBox();
    return false;
}

bool SendModeSwitch(UpdateJob& job, const uint8_t* packet) {
    uint32_t written = 0;
    if (LockedWrite(job.handle, packet, MODE_SWITCH_PACKET_LENGTH, &written) != USB_OK) return false;
    // As every reply wait: a last query once the window has closed.
    const uint32_t start = gClock.tickCount();
    for (;;) {
        const bool lastLook = gClock.tickCount() - start >= REPLY_WINDOW_MS;
        uint32_t waiting = 0;
        if (LockedQueryRxQueue(job.handle, &waiting) != USB_OK) {
            ShowErrorBox();
        } else if (waiting >= 1) {
            return true;
        }
        if (lastLook) return true;
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
            gEvents(DeviceFound{i, DeviceKind::Unreadable, nullptr, 0});
        } else {
            gEvents(DeviceFound{i, ClassifyId(id), id.bytes, id.length});
        }
    }
    return true;
}
