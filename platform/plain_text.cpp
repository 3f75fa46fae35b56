#include "platform/plain_text.h"

std::string AsciiText(const wchar_t* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && text[i]; ++i) {
        out += (text[i] >= 0x20 && text[i] < 0x7F) ? static_cast<char>(text[i]) : '?';
    }
    return out;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
