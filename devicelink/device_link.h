// Finding the device, switching it into its bootloader, opening,
// identifying and closing it.
#pragma once

#include <cstdint>

#include "job/update_job.h"

// Counts the devices (into job.deviceCount) and looks at the first readable
// identification string. A bootloader device sets deviceReady and gives true; an
// application-mode device is sent the mode switch (deviceReady stays 0;
// job.switchedToBootloader is set only when the packet was written to the
// opened device) and gives true; anything else shows the
// "Error" box and gives false. After a mode switch, fewer devices than were
// counted then also end in the box and false: the switched device is not back.
// With job.chosenDevice set, that device is acted on instead of the first
// one, and after a mode switch the device is the one bootloader that was
// not on the bus before; none, or more than one, ends in the box and false
// (gEvents.restartedDeviceAmbiguous when any bootloader is attached).
bool DiscoverDevice(UpdateJob& job);

// How often WaitForBootloader looks at the bus.
constexpr uint32_t RESTART_POLL_MS = 1;

// Looks at the bus every RESTART_POLL_MS, with the device count and the
// identification strings only (no box, nothing opened), until `deviceCount`
// devices are attached again and the first readable one is the bootloader
// (true), or `limitMs` have passed (false). `deviceCount` is what discovery
// counted before the restart (job.deviceCount).
bool WaitForBootloader(uint32_t limitMs, uint32_t deviceCount);

// WaitForBootloader for a job with a chosen device: until job.deviceCount
// devices are attached again and a bootloader is among them that was not on
// the bus at the first discovery.
bool WaitForFreshBootloader(uint32_t limitMs, const UpdateJob& job);

// Reports every attached device through gEvents.deviceFound, in bus order;
// opens none. False when the device count cannot be read. The caller holds
// UsbLock initialised.
bool ListDevices();

// Writes `packet` to the open device and waits up to 100 ms for any byte to
// come back; nothing is read. True when the library took the packet.
bool SendModeSwitch(UpdateJob& job, const uint8_t* packet);

// Closes the open device, if any; handle becomes -1 and lastPage 10.
void CloseDevice(UpdateJob& job);

// Finds the device again and opens it. A bootloader device is identified;
// an application-mode device is left open with appModeMatched set. Any
// failure closes what was opened and leaves no device.
void OpenDevice(UpdateJob& job);

// Reads the device information and sets lastPage from the device type.
bool IdentifyDevice(UpdateJob& job);

// Counts the devices again after a failed open and reads their strings.
void RescanDevices(UpdateJob& job);
