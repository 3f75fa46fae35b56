// The simulated bus's options: each device's kind, type, version, timing
// and fault, and the checks that they agree.
#include "console/bus_sim_options.h"

#include <cstring>

#include "console/bus.h"
#include "console/options.h"
#include "devicelink/identifiers.h"

SimOptions gSim;

namespace {

constexpr uint32_t DELAY_MAX_MS = 10000;
constexpr uint32_t RESTART_DELAY_MAX_MS = 600000;
// Devices after the first: as many as the program searches, with the first.
constexpr size_t MORE_DEVICES_MAX = MAX_DEVICES_SEARCHED - 1;

// KIND:N, or KIND:N@D for device D's own Nth packet.
bool ParseFault(const char* text, FaultOption* fault) {
    const char* colon = std::strchr(text, ':');
    if (!colon) return false;
    const std::string name(text, colon);
    std::string number(colon + 1);
    fault->device = -1;
    const size_t at = number.find('@');
    if (at != std::string::npos) {
        uint32_t device = 0;
        if (!ParseConsoleNumber(number.c_str() + at + 1, MORE_DEVICES_MAX, &device)) return false;
        fault->device = static_cast<int>(device);
        number.resize(at);
    }
    if (!ParseConsoleNumber(number.c_str(), 0xFFFFFFFFu, &fault->packet) || fault->packet == 0) return false;
    for (SimFaultKind kind : SIM_FAULT_KINDS) {
        if (name == SimFaultName(kind)) {
            fault->kind = kind;
            // A device count asks the bus, not a device.
            return kind != SimFaultKind::FailCount || fault->device < 0;
        }
    }
    return false;
}

// KIND[:TYPE[:VERSION]][+MS], e.g. "bootloader:0x84:2.00" or "bootloader+200".
bool ParseExtra(const std::string& listed) {
    ExtraDevice extra{ExtraKind::Application, -1, -1, 0};
    std::string item = listed;
    const size_t plus = item.find('+');
    if (plus != std::string::npos) {
        if (!ParseConsoleNumber(item.c_str() + plus + 1, RESTART_DELAY_MAX_MS, &extra.arrivesAfterMs) ||
            extra.arrivesAfterMs == 0)
            return false;
        item.resize(plus);
    }
    const size_t colon = item.find(':');
    const std::string kind = item.substr(0, colon);
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

// Calls `item` with each comma-separated part of `text`; false at the first
// part it refuses.
template <typename Item>
bool ForEachListed(const char* text, Item item) {
    const std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        if (!item(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start))) return false;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool ParseFaults(const char* text) {
    return ForEachListed(text, [](const std::string& part) {
        FaultOption fault{};
        if (!ParseFault(part.c_str(), &fault)) return false;
        gSim.faults.push_back(fault);
        return true;
    });
}

bool ParseMore(const char* text) { return ForEachListed(text, ParseExtra) && gSim.more.size() <= MORE_DEVICES_MAX; }

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
        {"--plug-in-after", &gSim.plugInAfterMs, RESTART_DELAY_MAX_MS,
         "a number of milliseconds in 0..600000 (decimal or 0x hex)"},
    };
    const bool takesValue = name == "--type" || name == "--installed" || name == "--fault" ||
                            name == "--more-devices" || name == "--reply-delay" || name == "--erase-delay" ||
                            name == "--restart-delay" || name == "--plug-in-after";
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
        if (ParseFaults(value)) return OptionParse::Matched;
        *error = BadValue(name, value,
                          "a comma-separated list of KIND:N (the Nth packet on the bus) or KIND:N@D (the Nth "
                          "packet to device D, 0..126), N in 1..4294967295, KIND one of fail-status missing-reply "
                          "late-reply partial-reply bad-ack wrong-checksum vanish short-read flipped-bit fail-read; "
                          "or fail-count:N (the Nth device count on the bus, no @D)");
    } else {
        if (ParseMore(value)) return OptionParse::Matched;
        *error = BadValue(name, value,
                          "a list of 1..126 of application, bootloader, unknown, each optionally with :TYPE, "
                          ":TYPE:VERSION and +MS, MS in 1..600000 (e.g. bootloader:0x84:2.00+300)");
    }
    return OptionParse::Error;
}

bool BusOptionsAgree(std::string* error) {
    if (gSim.noDevice && !gSim.shaping.empty()) {
        *error = "--no-device conflicts with " + gSim.shaping.front() + " (no device to shape)";
        return false;
    }
    // One fault per target: the bus, or each device that is there.
    const size_t devices = gSim.noDevice ? 0 : 1 + gSim.more.size();
    for (size_t i = 0; i < gSim.faults.size(); ++i) {
        const int device = gSim.faults[i].device;
        if (device >= 0 && static_cast<size_t>(device) >= devices) {
            *error = "--fault @" + std::to_string(device) + ": there is no device " + std::to_string(device) +
                     " (the first is 0, then those of --more-devices)";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (gSim.faults[j].device != device) continue;
            *error = device < 0 ? std::string("--fault names the bus twice (one fault each)")
                                : "--fault names device " + std::to_string(device) + " twice (one fault each)";
            return false;
        }
    }
    return true;
}
