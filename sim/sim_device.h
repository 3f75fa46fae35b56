// A simulated Lumaris device on a simulated USB bus: the eight library
// operations, the application-mode name and mode switch, the bootloader's
// command set with its replies, 64,512 bytes of flash, a receive queue whose
// bytes become readable after a latency on the clock, injected faults, and a
// record of every call. Tests, the console program, the benchmarks and the
// stand-in Windows library all run on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "usb/usb_library.h"

constexpr size_t SIM_FLASH_SIZE = 0xFC00;
constexpr size_t SIM_PAGE_SIZE = 512;
constexpr size_t SIM_QUEUE_CAPACITY = 64;
// The flash key this bootloader accepts.
constexpr uint8_t SIM_FLASH_KEY_FIRST = 0xA5;
constexpr uint8_t SIM_FLASH_KEY_SECOND = 0xF1;
// Where the bootloader keeps the application signature and reads the
// installed version: offsets within its last page.
constexpr size_t SIM_VERSION_OFFSET = 0x1FC;
constexpr size_t SIM_SIGNATURE_OFFSET = 0x1FE;
constexpr uint16_t SIM_VALID_SIGNATURE = 0x3DC2;
// How late a LateReply fault queues its reply: well past the 100 ms window,
// so that on the real clock only a pause of the PC of most of a second,
// right at the window's end, could let the program's last look find it.
// Opening the device again empties its queue, so the reply never reaches
// a later attempt.
constexpr uint32_t SIM_LATE_REPLY_MS = 1000;

enum class SimMode : uint8_t {
    Application,  // reports its application name; only the mode switch works
    Bootloader,   // reports "ar5w2~" and speaks the command protocol
};

enum class SimFaultKind : uint8_t {
    None,
    FailStatus,     // call number N returns a non-zero status and does nothing
    MissingReply,   // the command written by call N is carried out, its reply never comes
    LateReply,      // ... its reply comes SIM_LATE_REPLY_MS later than it should
    PartialReply,   // ... its reply lacks its last byte
    BadAck,         // ... its first acknowledgement is 0x01 (the info reply: device type 0x00)
    WrongChecksum,  // ... the page checksum it sends is off by one
    Vanish,         // from call N on, every call fails: the device is gone
    ShortRead,      // read call N (or every read of packet N's reply) reports success, yet
                    // delivers none of the bytes it takes off the queue: they are lost
    FlippedBit,     // the half page written by call N is stored with one bit flipped;
                    // the checksum sent is that of what was stored
    FailRead,       // every read of packet N's reply (the reads after call N and before
                    // the next write) returns a non-zero status; the bytes stay queued
    FailCount,      // the Nth device-count call (N counts those calls alone, whatever
                    // the bus counts for the other faults) returns a non-zero status
                    // and no count; a bus's fault only: the call names no device
};

const char* SimFaultName(SimFaultKind kind);
constexpr SimFaultKind SIM_FAULT_KINDS[] = {
    SimFaultKind::FailStatus, SimFaultKind::MissingReply,  SimFaultKind::LateReply, SimFaultKind::PartialReply,
    SimFaultKind::BadAck,     SimFaultKind::WrongChecksum, SimFaultKind::Vanish,    SimFaultKind::ShortRead,
    SimFaultKind::FlippedBit, SimFaultKind::FailRead,      SimFaultKind::FailCount};

enum class SimOp : uint8_t { DeviceCount, DeviceString, Open, Close, Read, Write, Setup, QueryRxQueue };

// One library call as the device saw it.
struct SimCall {
    SimOp op;
    UsbStatus status;
    uint32_t index;              // DeviceString, Open: device index
    uint32_t selector;           // DeviceString
    DeviceHandle handle;         // Close, Read, Write, Setup, QueryRxQueue
    uint32_t length;             // Read, Write: requested length
    uint32_t value;              // DeviceCount: count; QueryRxQueue: bytes waiting; Setup: first argument
    uint32_t value2;             // Setup: second argument
    uint32_t time;               // clock at the call
    int lockDepth;               // depth of UsbLock during the call, when a probe is set
    std::vector<uint8_t> bytes;  // Write: the packet; Read: the bytes delivered
};

struct SimQueuedByte {
    uint8_t value;
    uint32_t readyAt;
};

struct SimDevice {
    // Configuration.
    SimMode mode;
    uint8_t appName[DEVICE_STRING_SIZE];  // reported in application mode
    size_t appNameLength;                 // may be 0: the empty name
    bool fillWholeStringBuffer;           // report 256 non-NUL bytes as the string
    bool idReadable;                      // selector-0 reads succeed
    bool probeReadable;                   // selector-2 reads succeed
    uint8_t deviceType;
    uint8_t lastPage;               // follows from deviceType
    uint32_t replyDelayMs;          // every reply
    uint32_t eraseDelayMs;          // added to the reply of an erase
    uint32_t rebootDelayMs;         // off the bus after a mode switch or run
    bool replyToModeSwitch;         // queue one byte after the mode-switch packet
    uint32_t bootloaderAfterReads;  // if not 0: enters its bootloader on its own after
                                    // this many identification reads (a device that
                                    // changes mode between two enumerations)
    uint8_t dropsSecondHalfOfPage;  // if not 0: acknowledges the second half of this
                                    // page but stores none of it
    bool dropsSignature;            // acknowledges the signature write but stores nothing

    // If not 0: off the bus until this long after another device leaves it
    // to restart into its bootloader (a device plugged in during the wait).
    uint32_t arrivesAfterRestartMs;
    // This device's own fault, at the Nth packet written to it (None: none).
    // It acts as the bus's fault does, on this device alone.
    SimFaultKind faultKind;
    uint32_t faultPacket;
    uint32_t faultActs;  // how often that fault changed what a call did
    uint8_t flash[SIM_FLASH_SIZE];

    // State.
    bool present;     // on the bus now
    uint32_t backAt;  // when not present: the time it comes back
    SimMode backInMode;
    bool open;
    bool gone;    // vanished for good
    size_t slot;  // its place on the bus, in the order added
    DeviceHandle handle;
    bool keyAccepted;
    int selectedPage;  // -1: none
    SimQueuedByte queue[SIM_QUEUE_CAPACITY];
    size_t queueHead;
    size_t queueLength;

    // What happened to it.
    uint32_t packetsWritten;  // packets written to its handle
    uint32_t pagesErased;
    uint32_t halvesWritten;
    uint32_t checksumsSent;
    uint32_t runCommands;
    uint32_t modeSwitches;
};

struct SimBus {
    std::deque<SimDevice> devices;  // configured devices, attached or not; never moved
    SimFaultKind faultKind;
    uint32_t faultCall;      // 1-based call number the fault applies to
    bool faultCountsWrites;  // faultCall counts packets written, not calls
    // How often the bus's fault changed what a call did: a fault placed on a
    // packet it cannot act on (a flipped bit in a packet without data) never
    // does, and a test of it would test nothing.
    uint32_t faultActs;
    uint32_t callCount;   // calls made so far
    uint32_t writeCount;  // packets written so far
    uint32_t countCalls;  // device-count calls made so far
    bool recordCalls;
    std::vector<SimCall> calls;
    uint32_t (*now)();        // the clock the device lives on
    int (*lockDepthProbe)();  // optional: depth of UsbLock, recorded with each call
    // A call that breaks the library's rules (a null output pointer, a
    // non-zero last argument of read or write, more than callLimit calls
    // since the reset) fails without effect, is counted, and is reported to
    // `violation` when it is set.
    uint32_t violations;
    uint32_t callLimit;  // 0: no limit
    void (*violation)(const char* what);
};

extern SimBus gSimBus;

// Empties the bus (no devices, no fault, no record) and points the library
// table at the simulated operations. `now` is the device's clock.
void SimReset(uint32_t (*now)());
// Adds a device (any number) with defaults: bootloader mode, type 0x83, application name
// "2021", flash erased (0xFF), no valid application, no delays.
SimDevice* SimAddDevice();
void SimSetDeviceType(SimDevice* device, uint8_t deviceType);
void SimSetAppName(SimDevice* device, const char* name);
// Writes an installed application: version bytes and, when `valid`, the
// signature into the device's last page.
void SimSetInstalledApp(SimDevice* device, uint8_t verHi, uint8_t verLo, bool valid);
void SimSetFault(SimFaultKind kind, uint32_t callNumber);

uint16_t SimSignature(const SimDevice* device);
bool SimHasValidApp(const SimDevice* device);

// The bootloader's page checksum: CRC-16/KERMIT over `length` bytes.
uint16_t SimCrc16(const uint8_t* data, size_t length);

// The simulated library table.
extern const UsbLibrary SIM_USB_LIBRARY;
