#include "sim/sim_bootloader.h"

#include <cstring>

#include "sim/sim_device.h"
#include "sim/sim_faults.h"

namespace {

constexpr uint8_t FIRST_WRITABLE_PAGE = 10;
constexpr size_t PAGE_LIMIT = SIM_FLASH_SIZE / SIM_PAGE_SIZE;  // 126

bool PageWritable(const SimDevice* d) {
    return d->keyAccepted && d->selectedPage >= FIRST_WRITABLE_PAGE && d->selectedPage <= d->lastPage;
}

}  // namespace

size_t SimBootloaderCommand(SimDevice* d, const uint8_t* p, uint32_t length, uint8_t* reply, uint32_t* extraDelay) {
    if (length == 0) return 0;
    const uint8_t code = p[0];
    if (code == 0x00 && length == 1) {  // get info
        const size_t base = SimLastPageBase(d);
        const uint8_t info[9] = {'L',
                                 'U',
                                 0x01,
                                 0x00,
                                 d->flash[base + SIM_VERSION_OFFSET],
                                 d->flash[base + SIM_VERSION_OFFSET + 1],
                                 d->flash[base + SIM_SIGNATURE_OFFSET],
                                 d->flash[base + SIM_SIGNATURE_OFFSET + 1],
                                 d->deviceType};
        std::memcpy(reply, info, sizeof info);
        return sizeof info;
    }
    if (code == 0x01 && length == 2) {  // select page
        if (p[1] >= PAGE_LIMIT) {
            reply[0] = SIM_REPLY_REFUSED;
            return 1;
        }
        d->selectedPage = p[1];
        reply[0] = SIM_REPLY_OK;
        return 1;
    }
    if (code == 0x02 && length == 1) {  // erase the selected page
        *extraDelay = d->eraseDelayMs;
        if (!PageWritable(d)) {
            reply[0] = SIM_REPLY_REFUSED;
            return 1;
        }
        std::memset(d->flash + static_cast<size_t>(d->selectedPage) * SIM_PAGE_SIZE, 0xFF, SIM_PAGE_SIZE);
        ++d->pagesErased;
        reply[0] = SIM_REPLY_OK;
        return 1;
    }
    if (code == 0x03 && length == 258) {  // write one half of the selected page
        const uint8_t half = p[1];
        if (!PageWritable(d) || half > 1) {
            reply[0] = reply[1] = SIM_REPLY_REFUSED;
            return 2;
        }
        uint8_t* page = d->flash + static_cast<size_t>(d->selectedPage) * SIM_PAGE_SIZE;
        const bool dropped = half == 1 && d->dropsSecondHalfOfPage != 0 && d->selectedPage == d->dropsSecondHalfOfPage;
        if (!dropped) {
            for (size_t i = 0; i < 256; ++i) page[half * 256 + i] &= p[2 + i];  // flash only clears bits
        }
        if (SimFlippedBitHere(d)) page[half * 256] ^= 0x01;
        ++d->halvesWritten;
        reply[0] = reply[1] = SIM_REPLY_OK;
        if (half == 0) return 2;
        const uint16_t crc = SimCrc16(page, SIM_PAGE_SIZE);
        reply[2] = static_cast<uint8_t>(crc >> 8);
        reply[3] = static_cast<uint8_t>(crc & 0xFF);
        ++d->checksumsSent;
        return 4;
    }
    if (code == 0x05 && length == 1) {  // run the application: no reply
        ++d->runCommands;
        if (SimHasValidApp(d)) {
            d->backInMode = SimMode::Application;
        }
        return 0;
    }
    if (code == 0x06 && length == 3) {  // flash key
        const bool key = p[1] == SIM_FLASH_KEY_FIRST && p[2] == SIM_FLASH_KEY_SECOND;
        const bool clear = p[1] == 0 && p[2] == 0;
        d->keyAccepted = key;
        reply[0] = (key || clear) ? SIM_REPLY_OK : SIM_REPLY_REFUSED;
        return 1;
    }
    if (code == 0x07 && length == 3) {  // write the application signature, sent low byte first
        if (!d->keyAccepted || p[1] != 0xC2 || p[2] != 0x3D) {
            reply[0] = SIM_REPLY_REFUSED;
            return 1;
        }
        if (d->dropsSignature) {
            reply[0] = SIM_REPLY_OK;
            return 1;
        }
        const size_t at = SimLastPageBase(d) + SIM_SIGNATURE_OFFSET;
        d->flash[at] &= 0x3D;
        d->flash[at + 1] &= 0xC2;
        reply[0] = SimHasValidApp(d) ? SIM_REPLY_OK : SIM_REPLY_REFUSED;
        return 1;
    }
    reply[0] = SIM_REPLY_REFUSED;  // unknown command or wrong length
    return 1;
}

size_t SimLastPageBase(const SimDevice* d) { return static_cast<size_t>(d->lastPage) * SIM_PAGE_SIZE; }
