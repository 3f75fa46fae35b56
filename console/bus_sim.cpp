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

// One more device: what it runs, and its own type and installed version
// (the first device's when not given).
struct ExtraDevice {
    ExtraKind kind;
    int deviceType;  // -1: as the first device
    int installed;   // -1: as the first device
};

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
    std::vector<ExtraDevice> more;
    bool summary = false;
    std::vector<std::string> shaping;  // the options given that shape the first device
};

SimOptions gSim;
std::unique_ptr<UpdateJob> gImage;  // the built-in image, to compare the device with
std::vector<SimDevice*> gDevices;
std::vector<std::vector<uint8_t>> gInitialFlashes;

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

// KIND[:TYPE[:VERSION]], e.g. "bootloader:0x84:2.00".
bool ParseExtra(const std::string& item) {
    const size_t colon = item.find(':');
    const std::string kind = item.substr(0, colon);
    ExtraDevice extra{ExtraKind::Application, -1, -1};
    if (kind == "bootloader") {
        extra.kind = ExtraKind::Bootloader;
    } else if (kind == "unknown") {
        extra.kind = ExtraKind::Unknown;
    } else if (kind != "application") {
        return false;
    }
    if (colon != std::string::npos) {
        const std::string rest = item.substr(colon + 1);
        const size_t second = rest.find(':');
        uint32_t type = 0;
        if (!ParseConsoleNumber(rest.substr(0, second).c_str(), 0xFF, &type)) return false;
        extra.deviceType = static_cast<int>(type);
        if (second != std::string::npos) {
            uint16_t version = 0;
            if (!ParseConsoleVersion(rest.substr(second + 1).c_str(), &version)) return false;
            extra.installed = version;
        }
    }
    gSim.more.push_back(extra);
    return true;
}

bool ParseMore(const char* text) {
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        if (!ParseExtra(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)))
            return false;
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

// Packets written with success to each device, by their first byte
// (commands only: not the page halves or the mode switch).
uint32_t gPacketsByCommand[SIM_MAX_DEVICES][256];
UsbLibrary gSimTable;

UsbStatus USB_CALL CountingWrite(DeviceHandle handle, void* buffer, uint32_t length, uint32_t* written,
                                 void* overlapped) {
    const UsbStatus status = gSimTable.write(handle, buffer, length, written, overlapped);
    if (status != USB_OK || length == 0 || length >= 32) return status;
    for (size_t i = 0; i < gSimBus.deviceCount; ++i) {
        const SimDevice& d = gSimBus.devices[i];
        if (d.open && d.handle == handle) ++gPacketsByCommand[i][static_cast<const uint8_t*>(buffer)[0]];
    }
    return status;
}

}  // namespace

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
        if (name != "--sim-summary" && name != "--no-device") gSim.shaping.push_back(name);
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
    // The delays are the bus's timing, whatever is attached.
    if (name.find("-delay") == std::string::npos) gSim.shaping.push_back(name);
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
        *error = BadValue(name, value,
                          "a list of 1..7 of application, bootloader, unknown, each optionally with :TYPE and "
                          ":TYPE:VERSION (e.g. bootloader:0x84:2.00)");
    }
    return OptionParse::Error;
}

bool BusOptionsAgree(std::string* error) {
    if (gSim.noDevice && !gSim.shaping.empty()) {
        *error = "--no-device conflicts with " + gSim.shaping.front() + " (no device to shape)";
        return false;
    }
    return true;
}

namespace {

// A device with the run's delays, an old application of `installed` with a
// valid signature, and the rest of its flash filled.
SimDevice* AddDevice(uint8_t type, uint16_t installed) {
    SimDevice* d = SimAddDevice();
    SimSetDeviceType(d, type);
    d->replyDelayMs = gSim.replyDelayMs;
    d->eraseDelayMs = gSim.eraseDelayMs;
    d->rebootDelayMs = gSim.restartDelayMs;
    std::memset(d->flash + 10 * SIM_PAGE_SIZE, OLD_FILL, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
    SimSetInstalledApp(d, static_cast<uint8_t>(installed >> 8), static_cast<uint8_t>(installed & 0xFF), true);
    gDevices.push_back(d);
    return d;
}

}  // namespace

bool InstallBus(std::string*) {
    LoadImage();
    const ImageSummary image = SummariseImage(*gImage);
    SimReset(gClock.tickCount);
    gSimBus.recordCalls = false;
    if (gSim.summary) {
        gSimTable = gUsb;
        gUsb.write = CountingWrite;
    }
    const uint8_t firstType = static_cast<uint8_t>(gSim.deviceType >= 0 ? gSim.deviceType : image.type);
    if (!gSim.noDevice) {
        SimDevice* first = AddDevice(firstType, gSim.installed);
        first->mode = first->backInMode = gSim.bootloader ? SimMode::Bootloader : SimMode::Application;
        SimSetInstalledApp(first, static_cast<uint8_t>(gSim.installed >> 8),
                           static_cast<uint8_t>(gSim.installed & 0xFF), !gSim.invalidApp);
    }
    for (const ExtraDevice& extra : gSim.more) {
        SimDevice* d = AddDevice(extra.deviceType >= 0 ? static_cast<uint8_t>(extra.deviceType) : firstType,
                                 extra.installed >= 0 ? static_cast<uint16_t>(extra.installed) : gSim.installed);
        d->mode = d->backInMode = extra.kind == ExtraKind::Bootloader ? SimMode::Bootloader : SimMode::Application;
        if (extra.kind == ExtraKind::Unknown) SimSetAppName(d, "LX-7 sensor");
    }
    for (SimDevice* d : gDevices) gInitialFlashes.emplace_back(d->flash, d->flash + SIM_FLASH_SIZE);
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
    if (gDevices.empty()) {
        std::fprintf(stderr, "{\"sim_device\":null}\n");
        return;
    }
    for (size_t i = 0; i < gDevices.size(); ++i) {
        const SimDevice* d = gDevices[i];
        uint32_t pages = 0, matching = 0;
        for (size_t page = FIRST_APP_PAGE; page <= d->lastPage && page < PAGE_COUNT; ++page) {
            if (!gImage->PageMap[page]) continue;
            ++pages;
            const size_t base = page * PAGE_SIZE;
            // The device keeps its signature in the last two bytes of its last page.
            const size_t compared = page == d->lastPage ? SIM_SIGNATURE_OFFSET : PAGE_SIZE;
            matching += std::memcmp(d->flash + base, gImage->ImageBuffer + base, compared) == 0;
        }
        const bool changed = std::memcmp(d->flash, gInitialFlashes[i].data(), SIM_FLASH_SIZE) != 0;
        const uint32_t* packets = gPacketsByCommand[i];
        std::fprintf(stderr,
                     "{\"sim_device\":%zu,\"image_pages\":%u,\"pages_matching_image\":%u,\"signature_valid\":%s,"
                     "\"flash_changed\":%s,\"flash_key_packets\":%u,\"erase_packets\":%u,\"halves_written\":%u,"
                     "\"signature_packets\":%u,\"run_commands\":%u,\"mode_switches\":%u}\n",
                     i, pages, matching, SimHasValidApp(d) ? "true" : "false", changed ? "true" : "false",
                     packets[CMD_SET_FLASH_KEY], packets[CMD_ERASE_PAGE], d->halvesWritten,
                     packets[CMD_WRITE_SIGNATURE], d->runCommands, d->modeSwitches);
    }
}
