// Where an image says which device it is built for: the signature bytes near
// the end of its highest used page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/update_job.h"

// Offsets within the signature page.
constexpr size_t SIGNATURE_TYPE_OFFSET = 0x1FB;
constexpr size_t SIGNATURE_VERSION_HI_OFFSET = 0x1FC;
constexpr size_t SIGNATURE_VERSION_LO_OFFSET = 0x1FD;
// The device keeps the application signature in the page's last two bytes.
constexpr size_t DEVICE_SIGNATURE_OFFSET = 0x1FE;

constexpr uint8_t IMAGE_TYPE_FIRST = 0x81;
constexpr uint8_t IMAGE_TYPE_LAST = 0x86;

// The last pages of the known device types (the device type table in
// devicelink/ maps each type to one of them). An image's highest used page
// must be one of these.
constexpr uint8_t SIGNATURE_PAGES[] = {29, 62, 124};

constexpr bool IsSignaturePage(size_t page) {
    for (uint8_t candidate : SIGNATURE_PAGES)
        if (page == candidate) return true;
    return false;
}

constexpr bool IsKnownImageType(uint8_t type) { return type >= IMAGE_TYPE_FIRST && type <= IMAGE_TYPE_LAST; }

// The highest page from 125 down to 1 whose PageMap flag is set; 0 when none
// is (page 0's flag is never looked at).
inline size_t HighestUsedPage(const uint8_t (&pageMap)[PAGE_COUNT]) {
    size_t p = PAGE_COUNT - 1;
    while (p > 0 && pageMap[p] == 0) --p;
    return p;
}
