// Reading the HEX file: its name, its size and how its text is encoded,
// checked before a single record is read.
#pragma once

#include <cstddef>
#include <string>

#include "tools/findings.h"

// A full image's HEX text is under 200 KB; anything above this is not a
// firmware HEX file, and is refused before it is read whole.
constexpr size_t MAX_INPUT_BYTES = size_t{1} << 20;

// The file name goes into the facts file and the generated source: a control
// character in it (a line break, for one) is refused. Prints the reason.
bool CheckPathName(const char* path);

// Reads the whole file into text. On failure prints one line with the reason
// (the system's, or the size limit) and returns false.
bool ReadInputFile(const char* path, std::string& text);

// Looks at the text's encoding and line ends before it is read as records:
// a UTF-8 or UTF-16 byte-order mark, and lines that end with a carriage
// return alone. Reports what it finds; returns where the records start (past
// a UTF-8 byte-order mark), or std::string::npos when the text cannot be read
// as lines of records at all (an empty file, UTF-16, CR line ends).
size_t CheckTextEncoding(const std::string& text, Findings& findings);
