// What the embedding tool writes: the scrambled text as C++ source, the
// embedded firmware's facts and version header, and the files themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The scrambled values for each plain byte, from the unscramble table.
struct Scrambler {
    std::vector<uint8_t> valuesFor[256];

    // False when the table misses a character of HEX text.
    bool Build();

    // Characters that the table does not cover become zero bytes, which the
    // loader reads exactly as it reads any other character that is not ':'
    // or a hexadecimal digit.
    uint8_t Scramble(char c, size_t position) const;
};

// The version as the program's users read it: the two bytes in decimal, the
// low one with two digits ("1.10" for 01 0A); FF FF is "no version".
std::string VersionText(uint8_t hi, uint8_t lo);

// What the build embeds, for the rest of the build and for scripts.
struct FirmwareFacts {
    uint8_t type = 0xFF;
    uint8_t verHi = 0xFF, verLo = 0xFF;
    size_t firstPage = 0, lastPage = 0, pages = 0;
    std::string sha256;   // of the 64,512-byte flash image, 0xFF where unset
    std::string hexPath;  // absolute
};

// key=value lines: type, version, first_page, last_page, pages, sha256, hex.
std::string FactsText(const FirmwareFacts& facts);

// LUMARIS_FIRMWARE_VERSION_TEXT and LUMARIS_FIRMWARE_TYPE_TEXT as string
// macros, for C++ and resource scripts.
std::string VersionHeader(const FirmwareFacts& facts);

// The C++ source of EMBEDDED_IMAGE. The input's base name appears in a
// comment, with everything but printable ASCII escaped.
std::string EmbeddedSource(const std::vector<uint8_t>& scrambled, const char* inputPath);

const char* BaseName(const char* path);

// The absolute form of path (path itself when it has none).
std::string AbsolutePath(const char* path);

// Writes each file to a new temporary file of its own (path + ".part",
// created afresh: an earlier one, or a link of that name, is removed, never
// written through), and only once every one of them is written renames them
// all into place. A failed run leaves no half file and no mix of old and
// new outputs; its temporary files are removed. On failure prints why and
// returns false.
struct PlannedFile {
    std::string path;
    std::string content;
};
bool WriteFiles(const std::vector<PlannedFile>& files);

// One file the tool is asked to write, and the option that named it.
struct OutputFile {
    const char* option;  // "OUTPUT.cpp", "--raw", ...
    std::string path;
};

// Whether writing the outputs leaves the input and each other alone: no
// output, nor the temporary file it is written through, may be the input
// file or another output, whatever the spelling of their paths (".", "..",
// symbolic and hard links). Prints the first clash and returns false.
bool OutputsAreSeparate(const char* inputPath, const std::vector<OutputFile>& outputs);
