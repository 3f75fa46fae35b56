// What the update's core reports while it runs: one value per step, of
// plain values only, handed to one sink (gEvents). The window program shows
// a few of them around its texts (app/window_events.cpp); the console
// program reports every event and decides its result from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>

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
// otherwise than by the chosen device's own restart (BusChanged).
enum class RestartWaitEnd : uint8_t { Waited, BootloaderSeen, TimedOut, BusChanged };

// What the watch over a chosen device's restart saw beside the restart
// itself: a device arrived, one left, a second bootloader came, or a
// bootloader came before the chosen device had left the bus.
enum class BusChange : uint8_t { Arrival, Departure, SecondBootloader, EarlyBootloader };

// When the watch saw it: before the flash key (Restart: nothing was
// written) or once flash writing was unlocked (Update).
enum class BusWatchPhase : uint8_t { Restart, Update };

// One struct per event, of plain values. A front end handles the events it
// shows with std::visit and ignores the rest in one generic case; the
// recorder and the JSON writer name every event, with no generic case, so
// that an event one of them forgets fails to compile.

// Device `index` names itself with the `length` bytes at `id` (no NUL;
// nullptr for Unreadable), which stay the caller's and live as long as the
// call. Reported by discovery for the device it acts on and by the device
// list for every device.
struct DeviceFound {
    uint32_t index;
    DeviceKind kind;
    const uint8_t* id;
    size_t length;
};
// The USB library gave no device count: what is on the bus is not known.
struct DeviceCountFailed {};
// The mode-switch packet went to an application-mode device.
struct RestartRequested {};
// After the mode switch fewer devices are attached (`now`) than before it
// (`before`): the switched device is not back, so a bootloader on the bus
// is another device. Nothing is opened or written.
struct SwitchedDeviceMissing {
    uint32_t before;
    uint32_t now;
};
// The worker waited `waitedMs` before it looked for the bootloader again.
struct RestartAwaited {
    uint32_t waitedMs;
    RestartWaitEnd end;
};
// The bootloader device was opened and identified: its type, installed
// application version and application signature.
struct DeviceIdentified {
    uint8_t deviceType;
    uint8_t verHi, verLo;
    uint16_t signature;
};
// The image step ended: whether the text loaded, whether the image fits
// the device, the image's type and version bytes and its pages with data.
struct ImagePrepared {
    bool loaded;
    bool accepted;
    uint8_t imageType;
    uint8_t verHi, verLo;
    uint32_t pages;
};
struct QuestionAsked {
    VersionQuestion question;
};
struct QuestionAnswered {
    VersionQuestion question;
    bool yes;
};
// Flash writing is unlocked; the signature page is erased next, so from
// here on the device holds no valid application until the signature is
// confirmed. `pages` pages will be written.
struct ProgrammingStarted {
    uint32_t pages;
};
// Page `page`, number `index` of `total`: whether the device acknowledged
// every write, and whether its checksum equals the image's.
struct PageProgrammed {
    uint8_t page;
    uint32_t index;
    uint32_t total;
    bool written;
    bool verified;
};
struct SignatureWritten {
    bool acknowledged;
};
// The signature the device reported after the write.
struct SignatureConfirmed {
    bool valid;
    uint16_t signature;
};
struct RunSent {
    bool written;
};
// An exchange failed: the command, its page, why, and the fault's values.
struct ExchangeFailed {
    ExchangeFailure failure;
};
// Discovery was told which device to act on and switched it: from then
// until the signature is written the core watches the bus, and the only
// change allowed is that device leaving and one bootloader arriving.
// Anything else is reported once: `devicesBefore` were attached at the
// first discovery, `devicesNow` are. In the Restart phase the run stops
// before the flash key; in the Update phase it goes on, but the device
// programmed may not be the chosen one. Without a chosen device there is no
// watch, and the second discovery's count alone tells an arrival (Arrival,
// Restart: nothing is opened).
struct BusChanged {
    BusWatchPhase phase;
    BusChange change;
    uint32_t devicesBefore;
    uint32_t devicesNow;
};
// The chosen device runs its application while device `index` waits in its
// bootloader: after a restart the two could not be told apart, so nothing
// is sent to either.
struct BootloaderWaiting {
    uint32_t index;
};
// The device holds a valid application of the image's version, and the run
// was told to skip such a device: nothing is programmed.
struct AlreadyCurrent {};
// The pre-flight check's finding (it programs nothing).
struct CheckFinished {
    CheckVerdict verdict;
};
// The run stopped at a stop request (gStop); `flashOpen` when flash writing
// was unlocked, so that the device holds no valid application.
struct RunStopped {
    bool flashOpen;
};
// The worker ended; `deviceReady` as it chose its final text.
struct Finished {
    bool deviceReady;
};

using UpdateEvent =
    std::variant<DeviceFound, DeviceCountFailed, RestartRequested, SwitchedDeviceMissing, RestartAwaited,
                 DeviceIdentified, ImagePrepared, QuestionAsked, QuestionAnswered, ProgrammingStarted, PageProgrammed,
                 SignatureWritten, SignatureConfirmed, RunSent, ExchangeFailed, BusChanged, BootloaderWaiting,
                 AlreadyCurrent, CheckFinished, RunStopped, Finished>;

// Where the core's events go: one function, set by the front end before a
// run. The event lives as long as the call; nothing is allocated for it.
using UpdateEventSink = void (*)(const UpdateEvent& event);

// The sink that drops every event.
void IgnoreUpdateEvent(const UpdateEvent& event);

extern UpdateEventSink gEvents;

// The handler set of a std::visit: one lambda per event, or a generic one
// for the events a front end does not show.
template <typename... Handlers>
struct EventHandlers : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
EventHandlers(Handlers...) -> EventHandlers<Handlers...>;
