#include "image/hex_loader.h"

namespace {

constexpr uint8_t RECORD_MARK = ':';
constexpr uint8_t TYPE_DATA = 0x00;
constexpr uint8_t TYPE_END = 0x01;
// Mark, count, address and type: the characters before a record's data.
constexpr size_t RECORD_HEAD = 9;

uint8_t DigitValue(uint8_t c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    return 0;
}

}  // namespace

uint8_t HexPairToByte(uint8_t first, uint8_t second) {
    return static_cast<uint8_t>(DigitValue(first) << 4 | DigitValue(second));
}

bool LoadHexText(UpdateJob& job, const uint8_t* plain, size_t length) {
    if (length == 0) return false;  // no record mark at all
    size_t p = 0;
    while (p < length) {
        if (plain[p] != RECORD_MARK) return false;
        // A mark whose head ends exactly at the end of the text ends the load;
        // one nearer the end leaves no room for a record.
        if (p + RECORD_HEAD == length) return true;
        if (p + RECORD_HEAD > length) return false;

        const uint8_t count = HexPairToByte(plain[p + 1], plain[p + 2]);
        const uint8_t high = HexPairToByte(plain[p + 3], plain[p + 4]);
        const uint8_t low = HexPairToByte(plain[p + 5], plain[p + 6]);
        const uint8_t type = HexPairToByte(plain[p + 7], plain[p + 8]);
        if (type == TYPE_END) return true;  // its checksum is not tested
        if (type != TYPE_DATA) return false;

        // Data and checksum must lie inside the text.
        const size_t checksumAt = p + RECORD_HEAD + 2 * size_t{count};
        if (checksumAt + 2 > length) return false;

        uint8_t sum = static_cast<uint8_t>(count + high + low + type);
        const uint32_t address = uint32_t{high} << 8 | low;
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t a = address + k;  // no wrap at 16 bits
            if (a < LOAD_FIRST_ADDRESS || a > LOAD_LAST_ADDRESS) return false;
            const size_t at = p + RECORD_HEAD + 2 * size_t{k};
            const uint8_t value = HexPairToByte(plain[at], plain[at + 1]);
            job.ImageBuffer[a] = value;
            job.PageMap[a >> 9] = 1;
            sum = static_cast<uint8_t>(sum + value);
        }
        sum = static_cast<uint8_t>(sum + HexPairToByte(plain[checksumAt], plain[checksumAt + 1]));
        if (sum != 0) return false;

        p = checksumAt + 3;  // the checksum and one separator character
    }
    return true;
}
