#include "sim/standin/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text->append(chunk, n);
    std::fclose(f);
    return true;
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
            if (out->deviceCount >= SIM_MAX_DEVICES) return fail("more than 8 devices");
            d = &out->devices[out->deviceCount++];
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
        } else {
            return fail("unknown key '" + key + "'");
        }
        if (!ok) return fail("bad value for '" + key + "'");
    }
    return true;
}

uint8_t PatternByte(size_t address) { return static_cast<uint8_t>((address * 7 + (address >> 9)) & 0xFF); }

bool LoadHexText(const std::string& text, uint8_t* flash, std::string* error) {
    std::istringstream lines(text);
    std::string raw;
    uint32_t base = 0;
    int lineNumber = 0;
    bool ended = false;
    auto fail = [&](const char* why) {
        *error = "HEX line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(lines, raw)) {
        ++lineNumber;
        const std::string line = Trim(raw);
        if (line.empty()) continue;
        if (ended) return fail("record after the end record");
        if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) return fail("malformed record");
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i < line.size(); i += 2) {
            const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
            if (hi < 0 || lo < 0) return fail("not a hex digit");
            bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        const size_t count = bytes[0];
        if (bytes.size() != count + 5) return fail("length does not match the byte count");
        uint8_t sum = 0;
        for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) return fail("checksum");
        const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
        const uint8_t type = bytes[3];
        switch (type) {
            case 0x00:
                for (size_t i = 0; i < count; ++i) {
                    const size_t address = base + offset + i;
                    if (address >= SIM_FLASH_SIZE) return fail("data beyond the flash");
                    flash[address] = bytes[4 + i];
                }
                break;
            case 0x01: ended = true; break;
            case 0x02:
                if (count != 2) return fail("bad segment record");
                base = static_cast<uint32_t>(bytes[4] << 8 | bytes[5]) << 4;
                break;
            case 0x04:
                if (count != 2) return fail("bad linear address record");
                base = static_cast<uint32_t>(bytes[4] << 8 | bytes[5]) << 16;
                break;
            case 0x03:
            case 0x05: break;  // start addresses mean nothing to flash
            default: return fail("unknown record type");
        }
    }
    if (!ended) return fail("no end record");
    return true;
}

bool FillFlash(const DeviceScenario& device, uint8_t* flash, std::string* error) {
    std::memset(flash, 0xFF, SIM_FLASH_SIZE);
    switch (device.flash) {
        case FlashFill::Erased: return true;
        case FlashFill::Pattern:
            for (size_t a = 0; a < SIM_FLASH_SIZE; ++a) flash[a] = PatternByte(a);
            return true;
        case FlashFill::Hex: {
            std::string text;
            if (!ReadFile(device.hexPath, &text)) {
                *error = "cannot read " + device.hexPath;
                return false;
            }
            return LoadHexText(text, flash, error);
        }
    }
    return false;
}
