// Small text rules shared by the layers above: the program's texts shown in
// ASCII, and hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Up to `count` characters of `text` (fewer at a NUL) in ASCII: printable
// ASCII as it is, anything else as '?'. The program's own texts are ASCII.
std::string AsciiText(const wchar_t* text, size_t count);

// The value of a hexadecimal digit in either case, or -1.
int HexDigitValue(char c);

// `count` UTF-16 code units (a Windows command line's argument) as bytes:
// UTF-8, but a lone surrogate, which no UTF-8 holds, as the three bytes
// UTF-8's pattern gives its code unit (ED A0..BF xx). Those bytes are not
// UTF-8, so that the output names the argument by its bytes (label_hex)
// rather than as a U+FFFD that hides what was typed.
std::string ArgumentBytes(const uint16_t* units, size_t count);
