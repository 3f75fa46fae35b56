// Finding the device, switching it into its bootloader, opening,
// identifying and closing it.
#pragma once

#include <cstdint>

#include "events/update_events.h"
#include "job/update_job.h"

// Counts the devices (into job.deviceCount) and looks at the first readable
// identification string. A bootloader device sets deviceReady and gives true; an
// application-mode device is sent the mode switch (deviceReady stays 0;
// job.switchedToBootloader is set only when the packet was written to the
// opened device) and gives true; anything else shows the
// "Error" box and gives false. After a mode switch, a count other than the
// one made then also ends in the box and false: fewer, the switched device is
// not back (SwitchedDeviceMissing); more, a device arrived during the
// restart and the bootloader found may be that one (BusChanged,
// Arrival in the Restart phase).
// With job.chosenDevice set, that device is acted on instead of the first
// one: an application-mode device is switched only when no other device
// waits in its bootloader (else BootloaderWaiting, the box and
// false) and only when the switch is written (else the box and false), and
// the restart is watched (WatchRestart). After it the device is the one
// bootloader that came while the watch saw nothing else change.
bool DiscoverDevice(UpdateJob& job);

// How often WaitForBootloader looks at the bus.
constexpr uint32_t RESTART_POLL_MS = 1;

// Looks at the bus every RESTART_POLL_MS, with the device count and the
// identification strings only (no box, nothing opened), until `deviceCount`
// devices are attached again and the first readable one is the bootloader
// (true), or `limitMs` have passed (false). `deviceCount` is what discovery
// counted before the restart (job.deviceCount).
bool WaitForBootloader(uint32_t limitMs, uint32_t deviceCount);

// The watch over a chosen device's restart (devicelink/bus_watch.cpp). It
// starts when discovery has written the mode switch to the chosen device
// (job.watch Switched) and ends when the signature is written; the window
// program, which chooses no device, never starts it.
//
// Looks at the bus (device count and identification strings) every
// RESTART_POLL_MS for `limitMs`, or, when `untilBootloader`, until the
// chosen device is back. The only change allowed is the chosen device
// leaving the bus and one bootloader arriving; anything else is reported
// (a BusChanged event, phase Restart) and ends the wait with BusChanged.
// A fixed wait keeps its length. Back by the end: BootloaderSeen (polled) or
// Waited (fixed); not back: TimedOut.
RestartWaitEnd WatchRestart(UpdateJob& job, uint32_t limitMs, bool untilBootloader);

// One look of the watch: reads the bus and moves job.watch on (to Changed,
// reported, when the bus changed otherwise than by the restart).
void WatchBusOnce(UpdateJob& job);

// After the wait: looks at the bus once more and gives true when a device
// arrived since the chosen one came back (reported once through
// BusChanged in `phase`), or the bus had changed before. Devices
// that leave are not counted against it. No library call when the restart
// was not watched.
bool BusChangedSinceRestart(UpdateJob& job, BusWatchPhase phase);

// The second discovery's look at a watched bus: the index of the one
// bootloader, unless a device arrived or that bootloader is not there.
bool FindReturnedDevice(UpdateJob& job, uint32_t* index);

// After the bus changed during a watched restart: when the chosen device is
// still known (back, and the one bootloader on the bus) and no device is
// open, opens and identifies it and tells a valid application to run.
void ReturnChosenDevice(UpdateJob& job);

// The kinds of the `count` devices on the bus, by their identification
// strings, and the index of the first bootloader (`firstBootloader`, left
// as it is when there is none).
BusKinds ScanBus(uint32_t count, uint32_t* firstBootloader);

// Reports every attached device as a DeviceFound event, in bus order;
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
