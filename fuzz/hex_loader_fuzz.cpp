// Fuzz target: any text through the HEX loader and the image step. The
// input is used where it lies, so a read past its end is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/hex_loader.h"
#include "image/image_validation.h"
#include "job/update_job.h"

namespace {
UpdateJob gJob;  // 64 KB: kept out of the fuzzer's stack

// What a load may do, whatever the text: touch only pages 10..125.
void CheckLoadedImage() {
    for (size_t p = 0; p < FIRST_APP_PAGE; ++p)
        if (gJob.PageMap[p] != 0) __builtin_trap();
    for (size_t a = 0; a < LOAD_FIRST_ADDRESS; ++a)
        if (gJob.ImageBuffer[a] != 0xFF) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CreateUpdateJob(gJob);
    gJob.info.deviceType = 0x83;
    gJob.lastPage = 62;
    deviceReady = 1;
    PrepareAndValidateText(gJob, data, size);
    CheckLoadedImage();
    // An accepted image is one for this device that ends at its last page.
    if (deviceReady == 1) {
        if (gJob.imageType != 0x83 || gJob.PageMap[62] != 1) __builtin_trap();
        for (size_t p = 63; p < PAGE_COUNT; ++p)
            if (gJob.PageMap[p] != 0) __builtin_trap();
    }
    return 0;
}
