#include <array>

#include "flashing/flashing.h"

namespace {

// One step of eight bits at a time; the same values as the bitwise form.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0x8408u : crc >> 1;
        table[byte] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> CRC_TABLE = MakeCrcTable();

}  // namespace

uint16_t PageCrc(const UpdateJob& job, uint8_t page) {
    uint16_t crc = 0;
    const uint8_t* bytes = job.ImageBuffer + static_cast<size_t>(page) * PAGE_SIZE;
    for (size_t i = 0; i < PAGE_SIZE; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ CRC_TABLE[(crc ^ bytes[i]) & 0xFFu]);
    }
    return crc;
}
