// The record of one update run and the process-wide flags that tie its
// steps together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/device_handle.h"

constexpr size_t PAGE_SIZE = 512;
constexpr size_t PAGE_COUNT = 126;                     // pages 0..125
constexpr size_t IMAGE_SIZE = PAGE_SIZE * PAGE_COUNT;  // 0xFC00 bytes
constexpr uint8_t FIRST_APP_PAGE = 10;                 // address 0x1400
constexpr uint8_t CLOSED_LAST_PAGE = 10;               // lastPage while no device is open

// What the bootloader reports in reply to CMD_GET_INFO.
struct DeviceInfo {
    uint8_t appVerHi;
    uint8_t appVerLo;
    uint32_t signature;  // a 16-bit value; the upper 16 bits are zero
    uint8_t deviceType;
};

// A device type that no device reports; the job starts with it so that an
// image is refused when no identification reply was ever read.
constexpr uint8_t DEVICE_TYPE_UNKNOWN = 0x00;

constexpr size_t TARGET_SERIAL_SIZE = 16;

// No device chosen: discovery acts on the first device, as the window
// program does.
constexpr uint32_t ANY_DEVICE = 0xFFFFFFFF;
// The device indices a chosen-device run can name: 0..JOB_DEVICE_SLOTS - 1.
constexpr uint32_t JOB_DEVICE_SLOTS = 128;

// How many devices of each kind the bus holds, by their identification
// strings: all that the bus tells about them. Two devices of one kind
// cannot be told apart.
struct BusKinds {
    uint32_t application;
    uint32_t bootloader;
    uint32_t other;  // unknown names, unreadable strings, devices past the search
};

constexpr uint32_t DevicesOnBus(const BusKinds& kinds) { return kinds.application + kinds.bootloader + kinds.other; }

// How far the watch over a chosen device's restart has got.
enum class RestartWatch : uint8_t {
    Off,       // nothing watched: no device chosen (the window program), or none switched
    Switched,  // the mode switch was written; the device is still on the bus
    Away,      // it left the bus, and nothing else changed
    Back,      // one bootloader came in its place, and nothing else changed
    Returned,  // the wait ended with it back; from here on arrivals count
    Changed,   // anything else: which device is the chosen one cannot be proven
};

struct UpdateJob {
    DeviceHandle handle;
    uint32_t deviceCount;
    char targetSerial[TARGET_SERIAL_SIZE];  // NUL-terminated
    DeviceInfo info;
    uint8_t ImageBuffer[IMAGE_SIZE];
    uint8_t PageMap[PAGE_COUNT];
    uint8_t lastPage;
    uint8_t imageType;
    uint8_t imageVerHi;
    uint8_t imageVerLo;
    // Discovery wrote the mode switch to an opened application-mode device
    // (the library took the packet); it counted deviceCount devices then.
    bool switchedToBootloader;
    // The run ended early at a stop request.
    bool stopped;
    // The device discovery acts on (ANY_DEVICE: the first one). With a
    // choice, targetIndex is that device's index now (after a mode switch,
    // the one bootloader that came while the watch saw nothing else change).
    uint32_t chosenDevice;
    // 1-based number of the page being programmed; 0 outside the page loop.
    uint32_t pageIndex;
    uint32_t targetIndex;
    // The watch over a switched chosen device (devicelink/bus_watch.cpp):
    // the bus at the first discovery, the bus expected now (during the
    // wait: the bus last seen), and, once the
    // bus changed, whether the chosen device is still known: back, and the
    // one bootloader on the bus.
    RestartWatch watch;
    BusKinds busBefore;
    BusKinds busExpected;
    bool chosenKnown;
};

// Puts a fresh record in place: no device open, lastPage 10, empty target,
// an unknown device type. The image fields are filled by the image step.
void CreateUpdateJob(UpdateJob& job);
// Releases what the record owns. It does not close the device.
void DestroyUpdateJob(UpdateJob& job);

// 1 while the run may go on: set by discovery when the bootloader device is
// present, cleared by discovery at its start and by the image step (and by a
// failed programming run) otherwise.
extern uint8_t deviceReady;
// Set by OpenDevice when the device it matched runs its application.
extern uint8_t appModeMatched;
