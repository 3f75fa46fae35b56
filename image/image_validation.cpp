#include "image/image_validation.h"

#include <cstring>

#include "events/update_events.h"
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
    if (page > job.lastPage) return false;
    if (page < job.lastPage) return true;  // the device's signature page keeps 0xFF: it is only erased

    // The device writes its application signature into the last two bytes
    // of its last page after every page is programmed; they must still be
    // erased then. Any other value there either makes the signature write
    // fail on every run, after the application was erased, or (the
    // signature's own value) marks the application valid before its last
    // page was verified.
    const size_t signatureAt = base + DEVICE_SIGNATURE_OFFSET;
    return job.ImageBuffer[signatureAt] == 0xFF && job.ImageBuffer[signatureAt + 1] == 0xFF;
}

void Decide(UpdateJob& job, bool loaded) {
    if (!loaded) {
        deviceReady = 0;  // a text that does not load shows no box
        gEvents(ImagePrepared{false, false, 0, 0, 0, 0});
        return;
    }
    const bool fits = ImageFitsDevice(job);
    if (!fits) {
        ShowErrorBox();
        deviceReady = 0;
    }
    const ImageSummary summary = SummariseImage(job);
    gEvents(ImagePrepared{true, fits, summary.type, summary.verHi, summary.verLo, summary.pages});
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

ImageSummary SummariseImage(const UpdateJob& job) {
    ImageSummary summary{0, 0, 0, 0, 0, 0};
    for (size_t page = 1; page < PAGE_COUNT; ++page) {
        if (!job.PageMap[page]) continue;
        if (summary.pages == 0) summary.firstPage = static_cast<uint32_t>(page);
        summary.lastPage = static_cast<uint32_t>(page);
        ++summary.pages;
    }
    if (summary.pages == 0) return summary;
    const size_t base = summary.lastPage * PAGE_SIZE;
    summary.type = job.ImageBuffer[base + SIGNATURE_TYPE_OFFSET];
    summary.verHi = job.ImageBuffer[base + SIGNATURE_VERSION_HI_OFFSET];
    summary.verLo = job.ImageBuffer[base + SIGNATURE_VERSION_LO_OFFSET];
    return summary;
}

bool LoadEmbeddedImage(UpdateJob& job) {
    ClearImage(job);
    return LoadHexImage(job);
}
