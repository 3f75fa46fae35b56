// The firmware image built into the program: Intel HEX text, scrambled with
// UNSCRAMBLE_TABLE. Its source is written at build time by the embedding tool
// (tools/embed_image.cpp) from the HEX file that LUMARIS_FIRMWARE_HEX names.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t EMBEDDED_IMAGE[];
extern const size_t EMBEDDED_IMAGE_LENGTH;

// The loader's work space, EMBEDDED_IMAGE_LENGTH bytes: each load descrambles
// the embedded text into it, so that the embedded text stays scrambled and
// unchanged for the next run.
extern uint8_t gEmbeddedPlainText[];
