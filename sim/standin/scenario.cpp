#include "sim/standin/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "tools/hex_records.h"

namespace {

bool ParseNumber(const std::string& word, uint32_t* value) {
    if (word.empty()) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(word.c_str(), &end, 0);
    if (*end != '\0' || v > 0xFFFFFFFFul) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool ParseByte(const std::string& word, uint8_t* value) {
    uint32_t v = 0;
    if (!ParseNumber(word, &v) || v > 0xFF) return false;
    *value = static_cast<uint8_t>(v);
    return true;
}

bool ParseYesNo(const std::string& word, bool* value) {
    if (word == "yes")
        *value = true;
    else if (word == "no")
        *value = false;
    else
        return false;
    return true;
}

bool ParseFault(const std::string& word, SimFaultKind* kind) {
    for (SimFaultKind k : SIM_FAULT_KINDS) {
        if (word == SimFaultName(k)) {
            *kind = k;
            return true;
        }
    }
    return false;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& baseDir, Scenario* out, std::string* error) {
    *out = Scenario{};
    std::istringstream lines(text);
    std::string raw;
    int lineNumber = 0;
    DeviceScenario* d = nullptr;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(lines, raw)) {
        ++lineNumber;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find_first_of(" \t");
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : Trim(line.substr(space));
        std::istringstream words(rest);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);

        if (key == "device") {
            d = &out->devices.emplace_back();
            continue;
        }
        if (key == "fault") {
            uint32_t call = 0;
            if (w.size() != 2 || !ParseFault(w[0], &out->faultKind) || !ParseNumber(w[1], &call) || call == 0)
                return fail("expected: fault KIND CALL");
            out->faultCall = call;
            continue;
        }
        if (!d) return fail("'" + key + "' before the first 'device'");
        bool ok = true;
        if (key == "name") {
            d->name = rest;
            ok = rest.size() < DEVICE_STRING_SIZE;
        } else if (key == "mode") {
            ok = w.size() == 1 && (w[0] == "application" || w[0] == "bootloader");
            if (ok) d->mode = w[0] == "application" ? SimMode::Application : SimMode::Bootloader;
        } else if (key == "type") {
            ok = w.size() == 1 && ParseByte(w[0], &d->deviceType);
        } else if (key == "installed") {
            ok = w.size() == 3 && ParseByte(w[0], &d->installedHi) && ParseByte(w[1], &d->installedLo) &&
                 (w[2] == "valid" || w[2] == "invalid");
            d->installed = ok;
            d->installedValid = ok && w[2] == "valid";
        } else if (key == "flash") {
            if (w.size() == 1 && w[0] == "erased")
                d->flash = FlashFill::Erased;
            else if (w.size() == 1 && w[0] == "pattern")
                d->flash = FlashFill::Pattern;
            else if (w.size() >= 2 && w[0] == "hex") {
                d->flash = FlashFill::Hex;
                const std::string path = Trim(rest.substr(3));
                d->hexPath = IsAbsolute(path) ? path : baseDir + path;
            } else
                ok = false;
        } else if (key == "id-readable") {
            ok = w.size() == 1 && ParseYesNo(w[0], &d->idReadable);
        } else if (key == "probe-readable") {
            ok = w.size() == 1 && ParseYesNo(w[0], &d->probeReadable);
        } else if (key == "fill-string") {
            ok = w.size() == 1 && ParseYesNo(w[0], &d->fillString);
        } else if (key == "mode-switch-reply") {
            ok = w.size() == 1 && ParseYesNo(w[0], &d->modeSwitchReply);
        } else if (key == "reply-delay") {
            ok = w.size() == 1 && ParseNumber(w[0], &d->replyDelayMs);
        } else if (key == "erase-delay") {
            ok = w.size() == 1 && ParseNumber(w[0], &d->eraseDelayMs);
        } else if (key == "reboot-delay") {
            ok = w.size() == 1 && ParseNumber(w[0], &d->rebootDelayMs);
        } else if (key == "arrives-after-restart") {
            ok = w.size() == 1 && ParseNumber(w[0], &d->arrivesAfterRestartMs) && d->arrivesAfterRestartMs > 0;
        } else {
            return fail("unknown key '" + key + "'");
        }
        if (!ok) return fail("bad value for '" + key + "'");
    }
    return true;
}

uint8_t PatternByte(size_t address) { return static_cast<uint8_t>((address * 7 + (address >> 9)) & 0xFF); }

bool FillFlash(const DeviceScenario& device, uint8_t* flash, ReadTextFile readFile, std::string* error) {
    std::memset(flash, 0xFF, SIM_FLASH_SIZE);
    switch (device.flash) {
        case FlashFill::Erased: return true;
        case FlashFill::Pattern:
            for (size_t a = 0; a < SIM_FLASH_SIZE; ++a) flash[a] = PatternByte(a);
            return true;
        case FlashFill::Hex: {
            std::string text;
            if (!readFile(device.hexPath, &text)) {
                *error = "cannot read " + device.hexPath;
                return false;
            }
            ParsedImage image;
            Findings findings{device.hexPath.c_str(), true};
            ParseText(text, 0, image, findings);
            if (findings.errors > 0) {
                *error = device.hexPath + ": " + std::to_string(findings.errors) +
                         " record(s) the program would refuse (listed on standard error)";
                return false;
            }
            static_assert(IMAGE_SIZE == SIM_FLASH_SIZE, "the image covers the whole flash");
            std::memcpy(flash, image.bytes.data(), SIM_FLASH_SIZE);
            return true;
        }
    }
    return false;
}
