#include "tools/hex_records.h"

#include <cstdio>

#include "image/hex_loader.h"
#include "platform/plain_text.h"

namespace {

constexpr uint8_t TYPE_DATA = 0x00;
constexpr uint8_t TYPE_END = 0x01;
constexpr uint8_t TYPE_EXTENDED_SEGMENT = 0x02;
constexpr uint8_t TYPE_EXTENDED_LINEAR = 0x04;
constexpr char SEPARATOR = '\n';

std::string Printable(char c) {
    char text[8];
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "0x%02X", u);
    return text;
}

// Stores a data record's bytes; a byte that an earlier record gave another
// value is refused, once per record, naming both lines.
void StoreData(const std::vector<uint8_t>& bytes, size_t lineNumber, ParsedImage& image, Findings& findings) {
    const size_t count = bytes[0];
    const uint32_t address = uint32_t{bytes[1]} << 8 | bytes[2];
    size_t conflicts = 0, firstConflict = 0;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t a = address + static_cast<uint32_t>(k);
        if (image.lineOf[a] != 0 && image.bytes[a] != bytes[4 + k] && conflicts++ == 0) firstConflict = a;
    }
    if (conflicts > 0)
        findings.Report(true, lineNumber,
                        "the byte at 0x%04zX is written twice with different values: 0x%02X here, 0x%02X by the "
                        "record at %s:%zu (bytes of this record that differ from earlier records: %zu)",
                        firstConflict, unsigned{bytes[4 + firstConflict - address]},
                        unsigned{image.bytes[firstConflict]}, findings.path, image.lineOf[firstConflict], conflicts);
    // Stored as the program's loader stores them: the later record's byte stays.
    for (size_t k = 0; k < count; ++k) {
        const uint32_t a = address + static_cast<uint32_t>(k);
        if (image.lineOf[a] == 0) ++image.dataBytes;
        image.bytes[a] = bytes[4 + k];
        image.lineOf[a] = lineNumber;
        image.pageMap[a >> 9] = 1;
    }
}

// Checks one line as a record and, when it is one, adds it to the image.
void ParseRecord(const std::string& line, size_t lineNumber, ParsedImage& image, Findings& findings) {
    if (line.empty()) {
        findings.Report(true, lineNumber, "empty line");
        return;
    }
    if (line[0] != ':') {
        findings.Report(true, lineNumber, "the line does not start with a record mark ':'");
        return;
    }
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\r') {
            findings.Report(true, lineNumber,
                            "a carriage return (0x0D) without a line feed at column %zu: lines end with LF or CR LF",
                            i + 1);
            return;
        }
        if (HexDigitValue(line[i]) < 0) {
            findings.Report(true, lineNumber, "character %s at column %zu is not a hexadecimal digit",
                            Printable(line[i]).c_str(), i + 1);
            return;
        }
    }
    const size_t digits = line.size() - 1;
    if (digits % 2 != 0 || digits < 10) {
        findings.Report(true, lineNumber, "a record needs an even number of at least 10 digits, this one has %zu",
                        digits);
        return;
    }
    std::vector<uint8_t> bytes(digits / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(HexDigitValue(line[1 + 2 * i]) << 4 | HexDigitValue(line[2 + 2 * i]));
    const size_t count = bytes[0];
    if (bytes.size() != count + 5) {
        findings.Report(true, lineNumber, "the byte count says %zu data bytes, the record holds %zu", count,
                        bytes.size() - 5);
        return;
    }
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0) {
        const unsigned expected = (bytes.back() - sum) & 0xFF;
        findings.Report(true, lineNumber, "bad record checksum 0x%02X, the record's bytes need 0x%02X", bytes.back(),
                        expected);
        return;
    }

    const uint32_t address = uint32_t{bytes[1]} << 8 | bytes[2];
    const uint8_t type = bytes[3];
    std::string upper = line;
    for (char& c : upper)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');

    if (type == TYPE_EXTENDED_SEGMENT || type == TYPE_EXTENDED_LINEAR) {
        if (count == 2 && bytes[4] == 0 && bytes[5] == 0) return;  // changes no address: dropped
        findings.Report(true, lineNumber,
                        "record type 0x%02X (extended address 0x%02X%02X): only 16-bit addresses are loaded", type,
                        count >= 1 ? bytes[4] : 0, count >= 2 ? bytes[5] : 0);
        return;
    }
    if (type == TYPE_END) {
        image.endLine = lineNumber;
        image.normalised += upper + SEPARATOR;
        return;
    }
    if (type != TYPE_DATA) {
        findings.Report(true, lineNumber, "record type 0x%02X: only 00 (data) and 01 (end) are loaded", type);
        return;
    }
    for (size_t k = 0; k < count; ++k) {
        const uint32_t a = address + static_cast<uint32_t>(k);
        if (a < LOAD_FIRST_ADDRESS || a > LOAD_LAST_ADDRESS) {
            findings.Report(true, lineNumber, "data byte at address 0x%04X lies outside 0x%04X..0x%04X", a,
                            LOAD_FIRST_ADDRESS, LOAD_LAST_ADDRESS);
            return;
        }
    }
    StoreData(bytes, lineNumber, image, findings);
    image.normalised += upper + SEPARATOR;
}

}  // namespace

void ParseText(const std::string& text, size_t start, ParsedImage& image, Findings& findings) {
    size_t lineNumber = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool lineFeed = end != std::string::npos;
        if (!lineFeed) end = text.size();
        std::string line = text.substr(start, end - start);
        start = lineFeed ? end + 1 : end;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (image.endLine != 0) {
            if (!line.empty())
                findings.Report(true, lineNumber, "a record after the end record (line %zu) would never be read",
                                image.endLine);
            continue;
        }
        ParseRecord(line, lineNumber, image, findings);
    }
    image.lastLine = lineNumber;
    if (image.endLine == 0) findings.Report(true, lineNumber, "no end record (:00000001FF): the file may be cut short");
}
