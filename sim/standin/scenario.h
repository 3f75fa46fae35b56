// The stand-in library's scenario: which devices are attached, how they
// behave and which one fault is injected. A line-based text file:
//
//   # a comment; blank lines are ignored
//   device                    starts the next device (at most 4)
//   mode application|bootloader
//   name TEXT                 application-mode name (the rest of the line; "name" alone: empty)
//   type 0xNN                 device type (0x81..0x86 are known)
//   installed HI LO valid|invalid   installed application version and signature
//   flash erased|pattern|hex PATH   starting flash: all 0xFF, a fixed byte pattern,
//                                   or an Intel HEX file (PATH relative to this file)
//   id-readable yes|no        selector-0 string reads succeed
//   probe-readable yes|no     selector-2 string reads succeed
//   fill-string yes|no        report 256 bytes without a NUL as the string
//   reply-delay MS            latency of every reply
//   erase-delay MS            added latency of an erase reply
//   reboot-delay MS           time off the bus after a mode switch or a run
//   mode-switch-reply yes|no  answer the mode-switch packet with one byte
//   fault KIND CALL           one injected fault: KIND as SimFaultName gives it,
//                             CALL the 1-based number of the library call
//
// Numbers are decimal or 0x-prefixed hexadecimal. Lines before the first
// "device" may only be comments or "fault".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_device.h"

enum class FlashFill : uint8_t { Erased, Pattern, Hex };

struct DeviceScenario {
    SimMode mode = SimMode::Bootloader;
    std::string name = "2021";
    uint8_t deviceType = 0x83;
    bool installed = false;
    uint8_t installedHi = 0;
    uint8_t installedLo = 0;
    bool installedValid = false;
    FlashFill flash = FlashFill::Erased;
    std::string hexPath;  // FlashFill::Hex, already resolved
    bool idReadable = true;
    bool probeReadable = true;
    bool fillString = false;
    uint32_t replyDelayMs = 0;
    uint32_t eraseDelayMs = 0;
    uint32_t rebootDelayMs = 500;
    bool modeSwitchReply = false;
    uint32_t arrivesAfterRestartMs = 0;  // 0: attached from the start
};

struct Scenario {
    std::vector<DeviceScenario> devices;
    SimFaultKind faultKind = SimFaultKind::None;
    uint32_t faultCall = 0;
};

// Parses scenario text. `baseDir` (ending in a separator, or empty) is put
// before relative HEX paths. On failure returns false and describes the
// first bad line in `error`.
bool ParseScenario(const std::string& text, const std::string& baseDir, Scenario* out, std::string* error);

// Reads the file at `path` (UTF-8) whole into `text`; false when it cannot.
using ReadTextFile = bool (*)(const std::string& path, std::string* text);

// Fills `flash` (SIM_FLASH_SIZE bytes) with the starting content the device
// scenario asks for. A HEX file is read with `readFile` and taken by the
// embedding tool's own reader, so that the device starts with exactly the
// image the program would load from it. Returns false with `error` set when
// the file cannot be read or has a record the program would refuse (the
// reader prints each one on standard error).
bool FillFlash(const DeviceScenario& device, uint8_t* flash, ReadTextFile readFile, std::string* error);

// The byte the "pattern" fill puts at `address`.
uint8_t PatternByte(size_t address);
