// The built-in image as both programs name it in their logs and output:
// whether it loads, what it holds and the SHA-256 of its flash image.
#pragma once

#include <string>

#include "image/image_validation.h"

struct ImageFacts {
    bool loaded;
    ImageSummary summary;
    std::string sha256;  // of the whole flash image, as the embedding tool names it
};

// Loads the built-in image once more, without its loader line: a run's own
// load shows that line.
ImageFacts ReadImageFacts();
