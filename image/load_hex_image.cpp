#include <atomic>

#include "image/embedded_image.h"
#include "image/hex_loader.h"
#include "image/unscramble.h"
#include "platform/seams.h"

namespace {
// Set while a load uses gEmbeddedPlainText. The worker lets only one update
// run at a time, so this never refuses a load in the program; it keeps two
// loads from sharing the work space should that ever change.
std::atomic_flag gLoadRunning = ATOMIC_FLAG_INIT;
}  // namespace

bool LoadHexImage(UpdateJob& job) {
    gOutput.writeLine("Working  ");
    if (gLoadRunning.test_and_set()) return false;
    for (size_t i = 0; i < EMBEDDED_IMAGE_LENGTH; ++i) gEmbeddedPlainText[i] = UnscrambleByte(EMBEDDED_IMAGE[i]);
    const bool loaded = LoadHexText(job, gEmbeddedPlainText, EMBEDDED_IMAGE_LENGTH);
    gLoadRunning.clear();
    return loaded;
}
