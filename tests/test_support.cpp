#include "tests/test_support.h"

SimBus& InstallTestWorld(uint32_t startTick) {
    FakePlatformInstall(startTick);
    SimReset(FakeClockPeek);
    gSimBus.lockDepthProbe = FakeLockDepth;
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

#include <cstring>

#include "image/hex_loader.h"
#include "worker/update_job.h"

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
    for (size_t i = 0; i < gSimBus.deviceCount; ++i) {
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
