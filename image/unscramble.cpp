#include "image/unscramble.h"

namespace {
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
}  // namespace

// Every character of HEX text has three values that stand for it, spread over
// the range, and four values stand for a zero byte. No value stands for the
// character that has that value itself, so plain text never passes for
// scrambled text.
const uint8_t UNSCRAMBLE_TABLE[UNSCRAMBLE_TABLE_SIZE] = {
    '5', '4', '6', '0', '5', 0,   '2', '6',  // 10..17
    '1', 'A', ':', '0', 'B', '7', 'D', '2',  // 18..25
    '3', '9', LF,  LF,  'C', 'B', CR,  'C',  // 26..33
    'D', 'B', 0,   'D', 0,   'F', '7', CR,   // 34..41
    '8', '3', '8', LF,  '6', 'A', '7', ':',  // 42..49
    'E', '1', 'A', '9', '4', '4', 'E', '2',  // 50..57
    '5', '9', 'F', 'F', ':', '1', 'E', '8',  // 58..65
    '0', '3', 0,   CR,  'C',                 // 66..70
};

uint8_t UnscrambleByte(uint8_t scrambled) {
    if (scrambled < SCRAMBLED_FIRST || scrambled > SCRAMBLED_LAST) return 0;
    return UNSCRAMBLE_TABLE[scrambled - SCRAMBLED_FIRST];
}
