// Shared set-up for the tests: the fake platform on a virtual clock and an
// empty simulated bus living on that clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_device.h"
#include "tests/fake_platform.h"

// Installs the fake seams and an empty simulated bus; returns the bus.
SimBus& InstallTestWorld(uint32_t startTick = 1000);

// The packets written to the device, in order.
std::vector<std::vector<uint8_t>> WrittenPackets();
// The operations called, in order.
std::vector<SimOp> CalledOps();

struct UpdateJob;

// The embedded firmware image as the program loads it (ImageBuffer and
// PageMap), loaded once.
const UpdateJob& DemoImage();

// Fills a device's pages 10..125 with a recognisable old application.
void SimFillOldApplication(SimDevice* device, uint8_t fill);

// The device holds `image` in every page of 10..lastPage that the image
// carries (the bytes where the device keeps its signature aside), and
// `oldFill` in the other pages of that range.
bool DeviceHoldsImage(const SimDevice* device, const UpdateJob& image, uint8_t oldFill);

// Takes the devices off the bus and plugs them in again: each starts its
// application when it holds a valid one, else its bootloader.
void SimReplug();

// One Intel HEX record, ':' to checksum, without a line end; its checksum is
// off by `checksumError` when that is not 0.
std::string HexRecord(uint32_t address, uint8_t type, const std::vector<uint8_t>& data, int checksumError = 0);

// An image of `type` and `version` with data in every page from `firstPage`
// to `lastPage` (each byte from `byteAt`, then the type and version bytes of
// the signature page). The device's
// signature bytes of the last page are left out, as a real image does.
struct TestImage {
    std::vector<uint8_t> flash;  // IMAGE_SIZE bytes, 0xFF where the image sets none
    std::vector<unsigned> pages;
    unsigned lastPage;
};
TestImage MakeTestImage(uint8_t type, uint16_t version, unsigned firstPage, unsigned lastPage,
                        uint8_t (*byteAt)(size_t address));
// The image as Intel HEX text by the loader's rules: 32-byte data records,
// one line end after each, an end record.
std::string ImageHexText(const TestImage& image);

// An image step for UpdateWorkerWith that loads gTestImageText in place of
// the embedded image.
extern std::string gTestImageText;
void TestImageStep(UpdateJob& job);

// The image that gTestImageText holds, as the program loads it.
const UpdateJob& LoadedTestImage();

// A file's bytes put and read whole, for tests of files the program writes.
void WriteWholeFile(const std::string& path, const std::string& content);
std::string ReadWholeFile(const std::string& path);
