// The substitution that hides the embedded firmware text: each plain
// character is stored as one byte value in 10..70, and the same value always
// stands for the same character, wherever it appears.
#pragma once

#include <cstddef>
#include <cstdint>

// Scrambled byte values that the table covers.
constexpr uint8_t SCRAMBLED_FIRST = 10;
constexpr uint8_t SCRAMBLED_LAST = 70;
constexpr size_t UNSCRAMBLE_TABLE_SIZE = SCRAMBLED_LAST - SCRAMBLED_FIRST + 1;  // 61

// Entry v - 10 is the plain byte that the scrambled value v stands for: one of
// the 19 characters of Intel HEX text ('0'-'9', 'A'-'F', ':', CR, LF) or 0.
extern const uint8_t UNSCRAMBLE_TABLE[UNSCRAMBLE_TABLE_SIZE];

// The plain byte for one scrambled byte; 0 for every value outside 10..70.
uint8_t UnscrambleByte(uint8_t scrambled);
