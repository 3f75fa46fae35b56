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
enum class CheckVerdict : uint8_t { Program, AskUnversioned, AskOlder, Refuse };

// How the wait for a restarting device ended.
enum class RestartWaitEnd : uint8_t { Waited, BootloaderSeen, TimedOut };

struct UpdateEvents {
    // Device `index` names itself with the `length` bytes at `id` (no NUL;
    // nullptr for Unreadable). Reported by discovery for the device it acts on
    // and by the device list for every device.
    void (*deviceFound)(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length);
    // The mode-switch packet went to an application-mode device.
    void (*restartRequested)();
    // After the mode switch fewer devices are attached (`now`) than before it
    // (`before`): the switched device is not back, so a bootloader on the bus
    // is another device. Nothing is opened or written.
    void (*switchedDeviceMissing)(uint32_t before, uint32_t now);
    // The worker waited `waitedMs` before it looked for the bootloader again.
    void (*restartAwaited)(uint32_t waitedMs, RestartWaitEnd end);
    // The bootloader device was opened and identified: its type, installed
    // application version and application signature.
    void (*deviceIdentified)(uint8_t deviceType, uint8_t verHi, uint8_t verLo, uint16_t signature);
    // The image step ended: whether the text loaded, whether the image fits
    // the device, the image's type and version bytes and its pages with data.
    void (*imagePrepared)(bool loaded, bool accepted, uint8_t imageType, uint8_t verHi, uint8_t verLo, uint32_t pages);
    void (*questionAsked)(VersionQuestion question);
    void (*questionAnswered)(VersionQuestion question, bool yes);
    // Flash writing is unlocked; the signature page is erased next, so from
    // here on the device holds no valid application until the signature is
    // confirmed. `pages` pages will be written.
    void (*programmingStarted)(uint32_t pages);
    // Page `page`, number `index` of `total`: whether the device acknowledged
    // every write, and whether its checksum equals the image's.
    void (*pageProgrammed)(uint8_t page, uint32_t index, uint32_t total, bool written, bool verified);
    void (*signatureWritten)(bool acknowledged);
    // The signature the device reported after the write.
    void (*signatureConfirmed)(bool valid, uint16_t signature);
    void (*runSent)(bool written);
    // The pre-flight check's finding (it programs nothing).
    void (*checkVerdict)(CheckVerdict verdict);
    // The run stopped at a stop request (gStop); `flashOpen` when flash
    // writing was unlocked, so that the device holds no valid application.
    void (*stopped)(bool flashOpen);
    // The worker ended; `deviceReady` as it chose its final text.
    void (*finished)(bool deviceReady);
};

extern UpdateEvents gEvents;

// The table that does nothing.
extern const UpdateEvents NO_UPDATE_EVENTS;
