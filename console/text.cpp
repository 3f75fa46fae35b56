#include "console/text.h"

#include <cstdio>

std::string Printable(const uint8_t* bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\' && bytes[i] != '"') {
            out += static_cast<char>(bytes[i]);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned{bytes[i]});
            out += escape;
        }
    }
    return out;
}

std::string Narrow(const wchar_t* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += (text[i] >= 0x20 && text[i] < 0x7F) ? static_cast<char>(text[i]) : '?';
    return out;
}

size_t WideLength(const wchar_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

const char* KindName(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::Application: return "application";
        case DeviceKind::Bootloader: return "bootloader";
        case DeviceKind::Unknown: return "unknown";
        case DeviceKind::Unreadable: return "unreadable";
    }
    return "unknown";
}

const char* QuestionName(VersionQuestion question) {
    switch (question) {
        case VersionQuestion::None: return "none";
        case VersionQuestion::UnversionedImage: return "unversioned-image";
        case VersionQuestion::OlderImage: return "older-image";
    }
    return "none";
}

const char* VerdictName(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::Program: return "program";
        case CheckVerdict::AskUnversioned: return "ask-unversioned-image";
        case CheckVerdict::AskOlder: return "ask-older-image";
        case CheckVerdict::Refuse: return "refuse";
    }
    return "refuse";
}

const char* RestartEndName(RestartWaitEnd end) {
    switch (end) {
        case RestartWaitEnd::Waited: return "waited";
        case RestartWaitEnd::BootloaderSeen: return "bootloader-seen";
        case RestartWaitEnd::TimedOut: return "timed-out";
    }
    return "waited";
}
