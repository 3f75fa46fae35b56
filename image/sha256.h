// SHA-256 (FIPS 180-4) of a byte string, for the log line that says exactly
// which flash image went into a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256 {
    uint32_t state[8];
    uint8_t block[64];
    size_t blockLength;
    uint64_t totalLength;
};

void Sha256Begin(Sha256& hash);
void Sha256Add(Sha256& hash, const uint8_t* data, size_t length);
// The 32-byte digest; `hash` is used up.
void Sha256End(Sha256& hash, uint8_t (&digest)[32]);

// The digest of data[0 .. length-1] as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t length);
