// Small text rules shared by the layers above: the program's texts shown in
// ASCII, and hexadecimal digits.
#pragma once

#include <cstddef>
#include <string>

// Up to `count` characters of `text` (fewer at a NUL) in ASCII: printable
// ASCII as it is, anything else as '?'. The program's own texts are ASCII.
std::string AsciiText(const wchar_t* text, size_t count);

// The value of a hexadecimal digit in either case, or -1.
int HexDigitValue(char c);
