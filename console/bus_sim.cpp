// The Linux bus: the simulated device, shaped by the options below.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bootloader/commands.h"
#include "console/bus.h"
#include "console/options.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "sim/sim_device.h"

namespace {

enum class ExtraKind : uint8_t { Application, Bootloader, Unknown };

struct SimOptions {
    int deviceType = -1;  // -1: the image's own type
    bool bootloader = false;
    bool noDevice = false;
    bool invalidApp = false;
    uint16_t installed = 0x005A;  // 0.90
    SimFaultKind fault = SimFaultKind::None;
    uint32_t faultPacket = 0;
    uint32_t replyDelayMs = 1;
    uint32_t eraseDelayMs = 20;
    uint32_t restartDelayMs = 500;
    std::vector<ExtraKind> more;
    bool summary = false;
};

SimOptions gSim;
std::unique_ptr<UpdateJob> gImage;   // the built-in image, to compare the device with
std::vector<uint8_t> gInitialFlash;  // the first device's flash before the run
SimDevice* gDevice = nullptr;

constexpr uint32_t DELAY_MAX_MS = 10000;
constexpr uint32_t RESTART_DELAY_MAX_MS = 600000;
constexpr uint8_t OLD_FILL = 0x11;

bool ParseFault(const char* text) {
    const char* colon = std::strchr(text, ':');
    if (!colon) return false;
    const std::string name(text, colon);
    uint32_t packet = 0;
    if (!ParseConsoleNumber(colon + 1, 0xFFFFFFFFu, &packet) || packet == 0) return false;
    for (SimFaultKind kind : SIM_FAULT_KINDS) {
        if (name == SimFaultName(kind)) {
            gSim.fault = kind;
            gSim.faultPacket = packet;
            return true;
        }
    }
    return false;
}

bool ParseMore(const char* text) {
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string kind = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (kind == "application") {
            gSim.more.push_back(ExtraKind::Application);
        } else if (kind == "bootloader") {
            gSim.more.push_back(ExtraKind::Bootloader);
        } else if (kind == "unknown") {
            gSim.more.push_back(ExtraKind::Unknown);
        } else {
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return gSim.more.size() < SIM_MAX_DEVICES;
}

void NoLine(const char*) {}

// The built-in image as the program loads it, without its loader line.
void LoadImage() {
    gImage = std::make_unique<UpdateJob>();
    CreateUpdateJob(*gImage);
    const OutputSeam saved = gOutput;
    gOutput = OutputSeam{NoLine};
    LoadEmbeddedImage(*gImage);
    gOutput = saved;
}

// Packets written with success, by their first byte (commands only: not the
// page halves or the mode switch).
uint32_t gPacketsByCommand[256];
UsbLibrary gSimTable;

UsbStatus USB_CALL CountingWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* written,
                                 void* overlapped) {
    const UsbStatus status = gSimTable.write(handle, buffer, length, written, overlapped);
    if (status == USB_OK && length > 0 && length < 32) ++gPacketsByCommand[static_cast<const uint8_t*>(buffer)[0]];
    return status;
}

uint32_t CountPackets(uint8_t command) { return gPacketsByCommand[command]; }

}  // namespace

const char BUS_USAGE[] =
    "\n"
    "The simulated device (Linux):\n"
    "  --type 0xNN           device type, 0..255 (default: the image's type; 0x81..0x86 are known)\n"
    "  --bootloader          the device starts in its bootloader (default: in its application)\n"
    "  --installed VERSION   installed application version (default 0.90)\n"
    "  --no-valid-app        the device holds no valid application\n"
    "  --no-device           no device attached\n"
    "  --fault KIND:N        one fault at the Nth packet sent; KIND is one of fail-status missing-reply\n"
    "                        late-reply partial-reply bad-ack wrong-checksum vanish short-read\n"
    "                        flipped-bit\n"
    "  --reply-delay MS      the device's time to answer a command, 0..10000 (default 1)\n"
    "  --erase-delay MS      added time to erase a page, 0..10000 (default 20)\n"
    "  --restart-delay MS    its time off the bus when it restarts, 0..600000 (default 500)\n"
    "  --more-devices LIST   more devices after the first, comma-separated: application, bootloader,\n"
    "                        unknown (at most 3)\n"
    "  --sim-summary         at the end, one JSON line on standard error: what the first device's flash\n"
    "                        holds and which packets it was sent\n";

OptionParse ParseBusOption(const std::string& name, const char* inlineValue, ArgCursor& args, std::string* error) {
    struct Flag {
        const char* name;
        bool* target;
    };
    const Flag flags[] = {{"--bootloader", &gSim.bootloader},
                          {"--no-device", &gSim.noDevice},
                          {"--no-valid-app", &gSim.invalidApp},
                          {"--sim-summary", &gSim.summary}};
    for (const Flag& flag : flags) {
        if (name != flag.name) continue;
        if (inlineValue) {
            *error = name + " takes no value";
            return OptionParse::Error;
        }
        *flag.target = true;
        return OptionParse::Matched;
    }
    struct Delay {
        const char* name;
        uint32_t* target;
        uint32_t max;
        const char* allowed;
    };
    const Delay delays[] = {
        {"--reply-delay", &gSim.replyDelayMs, DELAY_MAX_MS, "a number of milliseconds in 0..10000 (decimal or 0x hex)"},
        {"--erase-delay", &gSim.eraseDelayMs, DELAY_MAX_MS, "a number of milliseconds in 0..10000 (decimal or 0x hex)"},
        {"--restart-delay", &gSim.restartDelayMs, RESTART_DELAY_MAX_MS,
         "a number of milliseconds in 0..600000 (decimal or 0x hex)"},
    };
    const bool takesValue = name == "--type" || name == "--installed" || name == "--fault" ||
                            name == "--more-devices" || name == "--reply-delay" || name == "--erase-delay" ||
                            name == "--restart-delay";
    if (!takesValue) return OptionParse::NotMine;
    const char* value = nullptr;
    if (!TakeOptionValue(name, inlineValue, args, &value, error)) return OptionParse::Error;
    for (const Delay& delay : delays) {
        if (name != delay.name) continue;
        if (ParseConsoleNumber(value, delay.max, delay.target)) return OptionParse::Matched;
        *error = BadValue(name, value, delay.allowed);
        return OptionParse::Error;
    }
    if (name == "--type") {
        uint32_t type = 0;
        if (ParseConsoleNumber(value, 0xFF, &type)) {
            gSim.deviceType = static_cast<int>(type);
            return OptionParse::Matched;
        }
        *error = BadValue(name, value, "a device type in 0..255 (decimal or 0x hex)");
    } else if (name == "--installed") {
        if (ParseConsoleVersion(value, &gSim.installed)) return OptionParse::Matched;
        *error = BadValue(name, value, "a version 0.00..255.255 written like 1.10, or 0x0000..0xFFFF");
    } else if (name == "--fault") {
        if (ParseFault(value)) return OptionParse::Matched;
        *error = BadValue(name, value,
                          "KIND:N with N in 1..4294967295 and KIND one of fail-status missing-reply "
                          "late-reply partial-reply bad-ack wrong-checksum vanish short-read flipped-bit");
    } else {
        if (ParseMore(value)) return OptionParse::Matched;
        *error = BadValue(name, value, "a list of 1..3 of application, bootloader, unknown");
    }
    return OptionParse::Error;
}

bool BusOptionsAgree(std::string* error) {
    if (gSim.noDevice &&
        (gSim.deviceType >= 0 || gSim.bootloader || gSim.invalidApp || gSim.fault != SimFaultKind::None)) {
        *error =
            "--no-device conflicts with the options that shape the device (--type, --bootloader, "
            "--no-valid-app, --fault)";
        return false;
    }
    return true;
}

bool InstallBus(std::string*) {
    LoadImage();
    const ImageSummary image = SummariseImage(*gImage);
    SimReset(gClock.tickCount);
    gSimBus.recordCalls = false;
    if (gSim.summary) {
        gSimTable = gUsb;
        gUsb.write = CountingWrite;
    }
    if (!gSim.noDevice) {
        gDevice = SimAddDevice();
        SimSetDeviceType(gDevice, static_cast<uint8_t>(gSim.deviceType >= 0 ? gSim.deviceType : image.type));
        gDevice->mode = gDevice->backInMode = gSim.bootloader ? SimMode::Bootloader : SimMode::Application;
        gDevice->replyDelayMs = gSim.replyDelayMs;
        gDevice->eraseDelayMs = gSim.eraseDelayMs;
        gDevice->rebootDelayMs = gSim.restartDelayMs;
        std::memset(gDevice->flash + 10 * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
        SimSetInstalledApp(gDevice, static_cast<uint8_t>(gSim.installed >> 8),
                           static_cast<uint8_t>(gSim.installed & 0xFF), !gSim.invalidApp);
        gInitialFlash.assign(gDevice->flash, gDevice->flash + SIM_FLASH_SIZE);
    }
    for (ExtraKind kind : gSim.more) {
        SimDevice* extra = SimAddDevice();
        extra->mode = extra->backInMode = kind == ExtraKind::Bootloader ? SimMode::Bootloader : SimMode::Application;
        if (kind == ExtraKind::Unknown) SimSetAppName(extra, "LX-7 sensor");
    }
    if (gSim.fault != SimFaultKind::None) {
        // Counted in packets: the number of receive-queue polls depends on
        // the real clock.
        SimSetFault(gSim.fault, gSim.faultPacket);
        gSimBus.faultCountsWrites = true;
    }
    return true;
}

void FinishBus() {
    if (!gSim.summary) return;
    if (!gDevice) {
        std::fprintf(stderr, "{\"sim_device\":null}\n");
        return;
    }
    uint32_t pages = 0, matching = 0;
    for (size_t page = FIRST_APP_PAGE; page <= gDevice->lastPage && page < PAGE_COUNT; ++page) {
        if (!gImage->PageMap[page]) continue;
        ++pages;
        const size_t base = page * PAGE_SIZE;
        // The device keeps its signature in the last two bytes of its last page.
        const size_t compared = page == gDevice->lastPage ? SIM_SIGNATURE_OFFSET : PAGE_SIZE;
        matching += std::memcmp(gDevice->flash + base, gImage->ImageBuffer + base, compared) == 0;
    }
    const bool changed = std::memcmp(gDevice->flash, gInitialFlash.data(), SIM_FLASH_SIZE) != 0;
    std::fprintf(stderr,
                 "{\"sim_device\":0,\"image_pages\":%u,\"pages_matching_image\":%u,\"signature_valid\":%s,"
                 "\"flash_changed\":%s,\"flash_key_packets\":%u,\"erase_packets\":%u,\"halves_written\":%u,"
                 "\"signature_packets\":%u,\"run_commands\":%u,\"mode_switches\":%u}\n",
                 pages, matching, SimHasValidApp(gDevice) ? "true" : "false", changed ? "true" : "false",
                 CountPackets(CMD_SET_FLASH_KEY), CountPackets(CMD_ERASE_PAGE), gDevice->halvesWritten,
                 CountPackets(CMD_WRITE_SIGNATURE), gDevice->runCommands, gDevice->modeSwitches);
}
