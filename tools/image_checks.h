// The checks the program makes of a loaded image before it asks the device
// anything, made at build time on the image the HEX file describes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/findings.h"
#include "tools/hex_records.h"

// The image's signature page and the bytes the program reads there; a byte
// that no record covers reads 0xFF, as in the program.
struct ImageSignature {
    size_t page = 0;
    uint8_t type = 0xFF, verHi = 0xFF, verLo = 0xFF;
};

// Refuses what the program would refuse (no data, a highest used page other
// than 29, 62 or 124, a type byte uncovered or outside 0x81..0x86, a page
// above the type's last page, a byte other than 0xFF where the device writes
// its signature) and a highest used page below the type's last page, which
// the program takes but which leaves the device with its old pages above the
// image and no version. Warns about what makes the program ask (no version).
ImageSignature CheckSignature(const ParsedImage& image, Findings& findings);
