// The image step of an update run: load the embedded image and decide
// whether it may be programmed into the connected device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/update_job.h"

// Fills ImageBuffer with 0xFF, clears PageMap and loads the embedded image.
// Accepts it when its highest used page is the last page of a known device
// type and not above the device's lastPage, its type byte (0x81..0x86)
// equals the device's type, and it leaves the device's signature bytes (the
// last two of page lastPage) at 0xFF; imageType, imageVerHi and imageVerLo
// then hold its signature. Otherwise clears deviceReady: silently when the text does
// not load, after the "Error" box when the image is refused.
void PrepareAndValidateImage(UpdateJob& job);

// The same step for the plain HEX text plain[0 .. length-1] instead of the
// embedded image.
void PrepareAndValidateText(UpdateJob& job, const uint8_t* plain, size_t length);

// What an image holds, from its PageMap and its signature page.
struct ImageSummary {
    uint32_t firstPage;  // lowest page with data; 0 when none
    uint32_t lastPage;   // highest page with data (the signature page); 0 when none
    uint32_t pages;      // pages with data
    uint8_t type;        // the signature bytes of the highest used page
    uint8_t verHi;
    uint8_t verLo;
};
ImageSummary SummariseImage(const UpdateJob& job);

// Fills ImageBuffer with 0xFF, clears PageMap and loads the embedded image,
// without a device to check it against. Whether the text loaded.
bool LoadEmbeddedImage(UpdateJob& job);
