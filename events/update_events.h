// What the update's core reports while it runs: a plain table of function
// pointers that the core calls at its steps, with plain values only. The
// window program shows a few of them around its texts (app/window_events.cpp);
// the console program reports every event and decides its result from them.
#pragma once

#include <cstddef>
#include <cstdint>

// What a device's identification string says it runs.
enum class DeviceKind : uint8_t { Application, Bootloader, Unknown, Unreadable };

// The question asked before programming, if any.
enum class VersionQuestion : uint8_t { None, UnversionedImage, OlderImage };

// What an update would do with the device, as the pre-flight check finds it.
// Current: the image's version is installed with a valid application.
enum class CheckVerdict : uint8_t { Program, AskUnversioned, AskOlder, Refuse, Current };

// The bootloader command of a failed exchange; the page write's two halves
// are told apart.
enum class DeviceCommand : uint8_t {
    GetInfo,
    SelectPage,
    ErasePage,
    WriteHalf0,
    WriteHalf1,
    FlashKey,
    WriteSignature,
    Run
};

// Why an exchange with the device failed.
enum class ExchangeFault : uint8_t {
    WriteFailed,       // the library refused the packet
    NoReply,           // the reply was not complete within its window (detail: the window in ms)
    ShortRead,         // the read reported success with fewer bytes than asked
    ReadFailed,        // the read or the queue query returned an error
    BadReply,          // the device answered with a refusal or a value it must not send (detail: the byte)
    ChecksumMismatch,  // the page checksum read (detail) is not the image's (expected)
    DeviceGone,        // a front end's reading of WriteFailed or ReadFailed when the bus no
                       // longer counts `devicesCounted` devices; the core never reports it
};

// A page number for a command that names no page.
constexpr uint32_t NO_PAGE = 0xFFFFFFFF;

// One failed exchange.
struct ExchangeFailure {
    DeviceCommand command;
    uint32_t page;       // NO_PAGE when the command names none
    uint32_t pageIndex;  // 1-based number of the page among those programmed; 0 outside the page loop
    ExchangeFault fault;
    uint32_t detail;    // NoReply: the window in ms; BadReply: the byte; ChecksumMismatch: the checksum read
    uint32_t expected;  // ChecksumMismatch: the image's checksum
    // The devices the run's discovery counted on the bus. The core asks the
    // bus nothing more: a front end that wants to tell a device that left
    // the bus from a failed call counts them again itself.
    uint32_t devicesCounted;
};

// How the wait for a restarting device ended. BusChanged: the bus changed
// otherwise than by the chosen device's own restart (gEvents.busChanged).
enum class RestartWaitEnd : uint8_t { Waited, BootloaderSeen, TimedOut, BusChanged };

// What the watch over a chosen device's restart saw beside the restart
// itself: a device arrived, one left, a second bootloader came, or a
// bootloader came before the chosen device had left the bus.
enum class BusChange : uint8_t { Arrival, Departure, SecondBootloader, EarlyBootloader };

// When the watch saw it: before the flash key (Restart: nothing was
// written) or once flash writing was unlocked (Update).
enum class BusWatchPhase : uint8_t { Restart, Update };

// A front end names only the events it handles (designated initialisers);
// every other slot does nothing. The recorder and the JSON writer handle
// them all, which tests/update_events_test.cpp checks slot by slot.
struct UpdateEvents {
    // Device `index` names itself with the `length` bytes at `id` (no NUL;
    // nullptr for Unreadable). Reported by discovery for the device it acts on
    // and by the device list for every device.
    void (*deviceFound)(uint32_t index, DeviceKind kind, const uint8_t* id,
                        size_t length) = [](uint32_t, DeviceKind, const uint8_t*, size_t) {};
    // The USB library gave no device count: what is on the bus is not known.
    void (*deviceCountFailed)() = [] {};
    // The mode-switch packet went to an application-mode device.
    void (*restartRequested)() = [] {};
    // After the mode switch fewer devices are attached (`now`) than before it
    // (`before`): the switched device is not back, so a bootloader on the bus
    // is another device. Nothing is opened or written.
    void (*switchedDeviceMissing)(uint32_t before, uint32_t now) = [](uint32_t, uint32_t) {};
    // The worker waited `waitedMs` before it looked for the bootloader again.
    void (*restartAwaited)(uint32_t waitedMs, RestartWaitEnd end) = [](uint32_t, RestartWaitEnd) {};
    // The bootloader device was opened and identified: its type, installed
    // application version and application signature.
    void (*deviceIdentified)(uint8_t deviceType, uint8_t verHi, uint8_t verLo,
                             uint16_t signature) = [](uint8_t, uint8_t, uint8_t, uint16_t) {};
    // The image step ended: whether the text loaded, whether the image fits
    // the device, the image's type and version bytes and its pages with data.
    void (*imagePrepared)(bool loaded, bool accepted, uint8_t imageType, uint8_t verHi, uint8_t verLo,
                          uint32_t pages) = [](bool, bool, uint8_t, uint8_t, uint8_t, uint32_t) {};
    void (*questionAsked)(VersionQuestion question) = [](VersionQuestion) {};
    void (*questionAnswered)(VersionQuestion question, bool yes) = [](VersionQuestion, bool) {};
    // Flash writing is unlocked; the signature page is erased next, so from
    // here on the device holds no valid application until the signature is
    // confirmed. `pages` pages will be written.
    void (*programmingStarted)(uint32_t pages) = [](uint32_t) {};
    // Page `page`, number `index` of `total`: whether the device acknowledged
    // every write, and whether its checksum equals the image's.
    void (*pageProgrammed)(uint8_t page, uint32_t index, uint32_t total, bool written,
                           bool verified) = [](uint8_t, uint32_t, uint32_t, bool, bool) {};
    void (*signatureWritten)(bool acknowledged) = [](bool) {};
    // The signature the device reported after the write.
    void (*signatureConfirmed)(bool valid, uint16_t signature) = [](bool, uint16_t) {};
    void (*runSent)(bool written) = [](bool) {};
    // An exchange failed: the command, its page, why, and the fault's values.
    void (*exchangeFailed)(const ExchangeFailure& failure) = [](const ExchangeFailure&) {};
    // Discovery was told which device to act on and switched it: from then
    // until the signature is written the core watches the bus, and the
    // only change allowed is that device leaving and one bootloader
    // arriving. Anything else is reported once: `devicesBefore` were
    // attached at the first discovery, `devicesNow` are. In the Restart
    // phase the run stops before the flash key; in the Update phase it goes
    // on, but the device programmed may not be the chosen one. Without a
    // chosen device there is no watch, and the second discovery's count
    // alone tells an arrival (Arrival, Restart: nothing is opened).
    void (*busChanged)(BusWatchPhase phase, BusChange change, uint32_t devicesBefore,
                       uint32_t devicesNow) = [](BusWatchPhase, BusChange, uint32_t, uint32_t) {};
    // The chosen device runs its application while device `index` waits in
    // its bootloader: after a restart the two could not be told apart, so
    // nothing is sent to either.
    void (*bootloaderWaiting)(uint32_t index) = [](uint32_t) {};
    // The device holds a valid application of the image's version, and the
    // run was told to skip such a device: nothing is programmed.
    void (*alreadyCurrent)() = [] {};
    // The pre-flight check's finding (it programs nothing).
    void (*checkVerdict)(CheckVerdict verdict) = [](CheckVerdict) {};
    // The run stopped at a stop request (gStop); `flashOpen` when flash
    // writing was unlocked, so that the device holds no valid application.
    void (*stopped)(bool flashOpen) = [](bool) {};
    // The worker ended; `deviceReady` as it chose its final text.
    void (*finished)(bool deviceReady) = [](bool) {};
};

extern UpdateEvents gEvents;

// The table that does nothing.
inline constexpr UpdateEvents NO_UPDATE_EVENTS{};
