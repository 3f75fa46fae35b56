// Test helper: loads an image with the program's loader and writes what it
// loaded, for comparison with independent HEX readers.
//
//   image_load_dump embedded OUT        the built-in image (LoadHexImage)
//   image_load_dump scrambled IN OUT    scrambled bytes from a file, descrambled
//                                       with UnscrambleByte, then LoadHexText
//   image_load_dump validate TYPE LAST  PrepareAndValidateImage for a device of
//                                       type TYPE whose last page is LAST
//
// OUT receives the 64,512 bytes of ImageBuffer and then the 126 PageMap flags.
// The load modes exit with 0 when the text loaded and 1 when it did not; the
// validate mode prints "accepted", "refused" (after an "Error" box) or
// "not loaded" (no box), and the image's type and version.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/hex_loader.h"
#include "image/image_validation.h"
#include "image/unscramble.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "tests/fresh_job.h"

namespace {

int gBoxes = 0;
int CountBox(const wchar_t*, const wchar_t*, unsigned) {
    ++gBoxes;
    return ANSWER_OK;
}

bool Dump(const UpdateJob& job, const char* path) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(job.ImageBuffer, 1, IMAGE_SIZE, f) == IMAGE_SIZE;
    ok = std::fwrite(job.PageMap, 1, PAGE_COUNT, f) == PAGE_COUNT && ok;
    return std::fclose(f) == 0 && ok;
}

bool ReadFile(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return true;
}

int Usage() {
    std::fputs("usage: image_load_dump embedded OUT | scrambled IN OUT | validate TYPE LAST\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    auto job = FreshJob();
    if (mode == "embedded" && argc == 3) {
        const bool loaded = LoadHexImage(*job);
        if (!Dump(*job, argv[2])) return 2;
        return loaded ? 0 : 1;
    }
    if (mode == "scrambled" && argc == 4) {
        std::vector<uint8_t> text;
        if (!ReadFile(argv[2], text)) return 2;
        for (uint8_t& b : text) b = UnscrambleByte(b);
        const bool loaded = LoadHexText(*job, text.data(), text.size());
        if (!Dump(*job, argv[3])) return 2;
        return loaded ? 0 : 1;
    }
    if (mode == "validate" && argc == 4) {
        gUi.messageBox = CountBox;
        job->info.deviceType = static_cast<uint8_t>(std::strtoul(argv[2], nullptr, 0));
        job->lastPage = static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0));
        deviceReady = 1;
        PrepareAndValidateImage(*job);
        const char* outcome = deviceReady ? "accepted" : gBoxes ? "refused" : "not loaded";
        std::printf("%s type 0x%02X version 0x%02X 0x%02X boxes %d\n", outcome, unsigned{job->imageType},
                    unsigned{job->imageVerHi}, unsigned{job->imageVerLo}, gBoxes);
        return 0;
    }
    return Usage();
}
