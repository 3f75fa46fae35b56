#include "image/image_validation.h"

#include <cstring>

#include "image/hex_loader.h"
#include "image/image_signature.h"
#include "platform/seams.h"

namespace {

void ClearImage(UpdateJob& job) {
    std::memset(job.ImageBuffer, 0xFF, sizeof job.ImageBuffer);
    std::memset(job.PageMap, 0, sizeof job.PageMap);
}

bool ImageFitsDevice(UpdateJob& job) {
    const size_t page = HighestUsedPage(job.PageMap);
    if (!IsSignaturePage(page)) return false;

    const size_t base = page * PAGE_SIZE;
    job.imageType = job.ImageBuffer[base + SIGNATURE_TYPE_OFFSET];
    job.imageVerHi = job.ImageBuffer[base + SIGNATURE_VERSION_HI_OFFSET];
    job.imageVerLo = job.ImageBuffer[base + SIGNATURE_VERSION_LO_OFFSET];
    if (!IsKnownImageType(job.imageType) || job.imageType != job.info.deviceType) return false;

    // Programming stops at the device's last page: an image that reaches
    // beyond it would be cut short and still marked valid.
    return page <= job.lastPage;
}

void Decide(UpdateJob& job, bool loaded) {
    if (!loaded) {
        deviceReady = 0;  // a text that does not load shows no box
        return;
    }
    if (!ImageFitsDevice(job)) {
        ShowErrorBox();
        deviceReady = 0;
    }
}

}  // namespace

void PrepareAndValidateImage(UpdateJob& job) {
    ClearImage(job);
    Decide(job, LoadHexImage(job));
}

void PrepareAndValidateText(UpdateJob& job, const uint8_t* plain, size_t length) {
    ClearImage(job);
    Decide(job, LoadHexText(job, plain, length));
}
