#include "runlog/text.h"

#include <cstdio>
#include <ctime>

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

size_t WideLength(const wchar_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

size_t Utf8Sequence(const uint8_t* bytes, size_t length, char32_t* code) {
    const uint8_t b = bytes[0];
    size_t extra = 0;
    char32_t c = b;
    char32_t least = 0;
    if (b < 0x80) {
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, c = b & 0x1Fu, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, c = b & 0x0Fu, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, c = b & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (extra >= length) return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((bytes[k] & 0xC0) != 0x80) return 0;
        c = c << 6 | (bytes[k] & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *code = c;
    return extra + 1;
}

bool DecodeUtf8(const uint8_t* bytes, size_t length, std::u32string* out) {
    for (size_t i = 0; i < length;) {
        char32_t c = 0;
        const size_t n = Utf8Sequence(bytes + i, length - i, &c);
        if (n == 0) return false;
        out->push_back(c);
        i += n;
    }
    return true;
}

namespace {

// Characters that change how a terminal shows what follows them: controls
// (C0, DEL, C1), the line and paragraph separators, and the bidirectional
// embeddings, overrides and isolates, which can make text read backwards.
bool Steers(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string PrintableText(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t n = Utf8Sequence(bytes + i, text.size() - i, &c);
        if (n == 0 || Steers(c)) {
            // Every byte of the sequence, so that nothing of it is left to act.
            const size_t bytesShown = n == 0 ? 1 : n;
            for (size_t k = 0; k < bytesShown; ++k) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", unsigned{bytes[i + k]});
                out += escape;
            }
            i += bytesShown;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
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
        case CheckVerdict::Current: return "current";
    }
    return "refuse";
}

const char* RestartEndName(RestartWaitEnd end) {
    switch (end) {
        case RestartWaitEnd::Waited: return "waited";
        case RestartWaitEnd::BootloaderSeen: return "bootloader-seen";
        case RestartWaitEnd::TimedOut: return "timed-out";
        case RestartWaitEnd::BusChanged: return "bus-changed";
    }
    return "waited";
}

const char* BusChangeName(BusChange change) {
    switch (change) {
        case BusChange::Arrival: return "arrival";
        case BusChange::Departure: return "departure";
        case BusChange::SecondBootloader: return "second-bootloader";
        case BusChange::EarlyBootloader: return "early-bootloader";
    }
    return "arrival";
}

const char* BusChangeWords(BusChange change) {
    switch (change) {
        case BusChange::Arrival: return "a device arrived";
        case BusChange::Departure: return "a device left";
        case BusChange::SecondBootloader: return "a second bootloader arrived";
        case BusChange::EarlyBootloader: return "a bootloader arrived before the device had left";
    }
    return "a device arrived";
}

const char* BusPhaseName(BusWatchPhase phase) { return phase == BusWatchPhase::Update ? "update" : "restart"; }

const char* CommandName(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::GetInfo: return "get-info";
        case DeviceCommand::SelectPage: return "select-page";
        case DeviceCommand::ErasePage: return "erase-page";
        case DeviceCommand::WriteHalf0: return "write-half 0";
        case DeviceCommand::WriteHalf1: return "write-half 1";
        case DeviceCommand::FlashKey: return "flash-key";
        case DeviceCommand::WriteSignature: return "write-signature";
        case DeviceCommand::Run: return "run";
    }
    return "get-info";
}

const char* FaultName(ExchangeFault fault) {
    switch (fault) {
        case ExchangeFault::WriteFailed: return "write-failed";
        case ExchangeFault::NoReply: return "no-reply";
        case ExchangeFault::ShortRead: return "short-read";
        case ExchangeFault::ReadFailed: return "read-failed";
        case ExchangeFault::BadReply: return "bad-reply";
        case ExchangeFault::ChecksumMismatch: return "checksum-mismatch";
        case ExchangeFault::DeviceGone: return "device-gone";
    }
    return "read-failed";
}

namespace {

const char* CommandWords(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::GetInfo: return "the identification request";
        case DeviceCommand::SelectPage: return "the page selection";
        case DeviceCommand::ErasePage: return "the erase";
        case DeviceCommand::WriteHalf0: return "the first half's write";
        case DeviceCommand::WriteHalf1: return "the second half's write";
        case DeviceCommand::FlashKey: return "the flash key";
        case DeviceCommand::WriteSignature: return "the signature write";
        case DeviceCommand::Run: return "the run command";
    }
    return "the command";
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

std::string FormatVersion(uint8_t high, uint8_t low) {
    if (high == 0xFF && low == 0xFF) return "no version";
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", unsigned{high}, unsigned{low});
    return text;
}

std::string HexByte(uint32_t value) { return Hex(value, 2); }
std::string HexWord(uint32_t value) { return Hex(value, 4); }

std::string FailureWords(const ExchangeFailure& failure, uint32_t pagesTotal) {
    std::string where;
    if (failure.page != NO_PAGE) {
        where = "page " + std::to_string(failure.page);
        if (failure.pageIndex > 0 && pagesTotal > 0)
            where += " (" + std::to_string(failure.pageIndex) + " of " + std::to_string(pagesTotal) + ")";
        where += ": ";
    }
    const std::string command = CommandWords(failure.command);
    switch (failure.fault) {
        case ExchangeFault::WriteFailed: return where + command + " could not be sent";
        case ExchangeFault::NoReply:
            return where + "no reply to " + command + " within " + std::to_string(failure.detail) + " ms";
        case ExchangeFault::ShortRead: return where + "the reply to " + command + " came short";
        case ExchangeFault::ReadFailed: return where + "the reply to " + command + " could not be read";
        case ExchangeFault::BadReply: return where + "reply " + HexByte(failure.detail) + " to " + command;
        case ExchangeFault::ChecksumMismatch:
            return where + "checksum " + HexWord(failure.detail) + ", expected " + HexWord(failure.expected);
        case ExchangeFault::DeviceGone: return where + "the device left the bus at " + command;
    }
    return where + command + " failed";
}

std::string AttemptCauseWords(const ExchangeFailure& failure) {
    std::string command = CommandWords(failure.command);
    if (failure.page != NO_PAGE) command += " of page " + std::to_string(failure.page);
    switch (failure.fault) {
        case ExchangeFault::WriteFailed: return command + " could not be sent";
        case ExchangeFault::NoReply: return "no reply to " + command;
        case ExchangeFault::ShortRead: return "a short reply to " + command;
        case ExchangeFault::ReadFailed: return "an unreadable reply to " + command;
        case ExchangeFault::BadReply: return "reply " + HexByte(failure.detail) + " to " + command;
        case ExchangeFault::ChecksumMismatch:
            return "checksum " + HexWord(failure.detail) + ", expected " + HexWord(failure.expected) + ", after " +
                   command;
        case ExchangeFault::DeviceGone: return "the device left the bus at " + command;
    }
    return command + " failed";
}

std::string DeviceWords(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    std::string line = "device " + std::to_string(index) + ": ";
    if (id) {
        line += '"';
        line += Printable(id, length);
        line += '"';
    } else {
        line += "(identification not readable)";
    }
    return line + " (" + KindName(kind) + ")";
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}
