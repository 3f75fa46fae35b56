#include "tests/test_support.h"

#include <stdexcept>

namespace {

// No test world comes near these: a whole update of the largest device
// makes about 2,100 library calls and 1,700 tick queries, each failed reply
// wait some 100 more, and the fault matrix runs three updates of the demo
// image (about 1,100 calls each) on one world. A test that passes them is
// stopped (in some 50 ms; under the sanitizers some 100 ms) instead of spinning
// until ctest's timeout.
constexpr uint32_t CALL_LIMIT = 20000;
constexpr uint64_t TICK_QUERY_LIMIT = 20000;

// A call that breaks the library's rules, or a run that does not end, fails
// the test at once: the exception leaves the code under test and gtest
// reports it with this text.
[[noreturn]] void StopTheTest(const char* what) { throw std::runtime_error(what); }

}  // namespace

SimBus& InstallTestWorld(uint32_t startTick) {
    FakePlatformInstall(startTick);
    gFake.tickQueryLimit = TICK_QUERY_LIMIT;
    gFake.runaway = StopTheTest;
    SimReset(FakeClockPeek);
    gSimBus.lockDepthProbe = FakeLockDepth;
    gSimBus.callLimit = CALL_LIMIT;
    gSimBus.violation = StopTheTest;
    return gSimBus;
}

std::vector<std::vector<uint8_t>> WrittenPackets() {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& call : gSimBus.calls)
        if (call.op == SimOp::Write) out.push_back(call.bytes);
    return out;
}

std::vector<SimOp> CalledOps() {
    std::vector<SimOp> out;
    for (const auto& call : gSimBus.calls) out.push_back(call.op);
    return out;
}

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "image/hex_loader.h"
#include "image/image_signature.h"
#include "image/image_validation.h"
#include "job/update_job.h"

const UpdateJob& DemoImage() {
    static UpdateJob image;
    static bool loaded = false;
    if (!loaded) {
        CreateUpdateJob(image);
        std::memset(image.ImageBuffer, 0xFF, sizeof image.ImageBuffer);
        std::memset(image.PageMap, 0, sizeof image.PageMap);
        loaded = LoadHexImage(image);
    }
    return image;
}

void SimFillOldApplication(SimDevice* device, uint8_t fill) {
    std::memset(device->flash + 10 * SIM_PAGE_SIZE, fill, SIM_FLASH_SIZE - 10 * SIM_PAGE_SIZE);
}

bool DeviceHoldsImage(const SimDevice* device, const UpdateJob& image, uint8_t oldFill) {
    for (size_t page = 10; page <= device->lastPage; ++page) {
        for (size_t offset = 0; offset < SIM_PAGE_SIZE; ++offset) {
            const size_t at = page * SIM_PAGE_SIZE + offset;
            if (page == device->lastPage && offset >= SIM_SIGNATURE_OFFSET) continue;
            const uint8_t expected = image.PageMap[page] ? image.ImageBuffer[at] : oldFill;
            if (device->flash[at] != expected) return false;
        }
    }
    return true;
}

void SimReplug() {
    for (size_t i = 0; i < gSimBus.devices.size(); ++i) {
        SimDevice* d = &gSimBus.devices[i];
        d->gone = false;
        d->open = false;
        d->present = true;
        d->backAt = 0;
        d->mode = d->backInMode = SimHasValidApp(d) ? SimMode::Application : SimMode::Bootloader;
        d->keyAccepted = false;
        d->selectedPage = -1;
        d->queueHead = d->queueLength = 0;
    }
}

std::string HexRecord(uint32_t address, uint8_t type, const std::vector<uint8_t>& data, int checksumError) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>((0x100 - (sum & 0xFF) + static_cast<unsigned>(checksumError)) & 0xFF));
    std::string text = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", unsigned{b});
        text += pair;
    }
    return text;
}

TestImage MakeTestImage(uint8_t type, uint16_t version, unsigned firstPage, unsigned lastPage,
                        uint8_t (*byteAt)(size_t address)) {
    TestImage image{std::vector<uint8_t>(IMAGE_SIZE, 0xFF), {}, lastPage};
    for (unsigned page = firstPage; page <= lastPage; ++page) {
        image.pages.push_back(page);
        for (size_t i = 0; i < PAGE_SIZE; ++i) image.flash[page * PAGE_SIZE + i] = byteAt(page * PAGE_SIZE + i);
    }
    uint8_t* signaturePage = image.flash.data() + lastPage * PAGE_SIZE;
    signaturePage[SIGNATURE_TYPE_OFFSET] = type;
    signaturePage[SIGNATURE_VERSION_HI_OFFSET] = static_cast<uint8_t>(version >> 8);
    signaturePage[SIGNATURE_VERSION_LO_OFFSET] = static_cast<uint8_t>(version & 0xFF);
    signaturePage[DEVICE_SIGNATURE_OFFSET] = signaturePage[DEVICE_SIGNATURE_OFFSET + 1] = 0xFF;
    return image;
}

std::string ImageHexText(const TestImage& image) {
    constexpr size_t RECORD = 32;
    std::string text;
    for (unsigned page : image.pages) {
        const size_t end = page == image.lastPage ? DEVICE_SIGNATURE_OFFSET : PAGE_SIZE;
        for (size_t offset = 0; offset < end; offset += RECORD) {
            const size_t count = end - offset < RECORD ? end - offset : RECORD;
            const size_t address = page * PAGE_SIZE + offset;
            const std::vector<uint8_t> data(image.flash.begin() + static_cast<std::ptrdiff_t>(address),
                                            image.flash.begin() + static_cast<std::ptrdiff_t>(address + count));
            text += HexRecord(static_cast<uint32_t>(address), 0x00, data) + "\n";
        }
    }
    return text + HexRecord(0, 0x01, {}) + "\n";
}

std::string gTestImageText;

void TestImageStep(UpdateJob& job) {
    PrepareAndValidateText(job, reinterpret_cast<const uint8_t*>(gTestImageText.data()), gTestImageText.size());
}

const UpdateJob& LoadedTestImage() {
    static UpdateJob image;
    CreateUpdateJob(image);
    std::memset(image.ImageBuffer, 0xFF, sizeof image.ImageBuffer);
    std::memset(image.PageMap, 0, sizeof image.PageMap);
    LoadHexText(image, reinterpret_cast<const uint8_t*>(gTestImageText.data()), gTestImageText.size());
    return image;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}
