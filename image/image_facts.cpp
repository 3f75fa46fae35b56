#include "image/image_facts.h"

#include <memory>

#include "image/sha256.h"
#include "job/update_job.h"
#include "platform/seams.h"

namespace {

void NoLine(const char*) {}

}  // namespace

ImageFacts ReadImageFacts() {
    // The job holds the whole flash image: too big for a worker's stack.
    auto image = std::make_unique<UpdateJob>();
    CreateUpdateJob(*image);
    const OutputSeam shown = gOutput;
    gOutput = OutputSeam{NoLine};
    const bool loaded = LoadEmbeddedImage(*image);
    gOutput = shown;
    ImageFacts facts{loaded, SummariseImage(*image), Sha256Hex(image->ImageBuffer, sizeof image->ImageBuffer)};
    DestroyUpdateJob(*image);
    return facts;
}
