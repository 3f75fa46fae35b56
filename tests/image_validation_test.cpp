// The image step: which images a device accepts, what a refusal shows, and
// that the run stops on any of them.
#include "image/image_validation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "job/update_job.h"
#include "tests/test_support.h"

namespace {

// One data record and its line end.
std::string Rec(uint32_t address, const std::vector<uint8_t>& data, int checksumError = 0) {
    return HexRecord(address, 0x00, data, checksumError) + "\n";
}

const std::string END = ":00000001FF\n";
// Some data at the start of the application area.
const std::string BODY = Rec(0x1400, {0x02, 0x3C, 0x00, 0x75, 0x81, 0x20, 0x12, 0x14});

uint32_t Base(size_t page) { return static_cast<uint32_t>(page * PAGE_SIZE); }
// Type and version bytes at offsets 0x1FB..0x1FD of the page.
std::string Signature(size_t page, uint8_t type, uint8_t verHi = 0x02, uint8_t verLo = 0x05) {
    return Rec(Base(page) + 0x1FB, {type, verHi, verLo});
}

struct Device {
    uint8_t type;
    uint8_t lastPage;
};

struct ValidationCase {
    const char* name;
    std::string text;
    Device device;
    bool accepted;
    size_t boxes;
    uint8_t imageType, imageVerHi, imageVerLo;  // when accepted
};

void PrintTo(const ValidationCase& c, std::ostream* os) { *os << c.name; }

class PrepareAndValidateCases : public testing::TestWithParam<ValidationCase> {};

TEST_P(PrepareAndValidateCases, AcceptsOrStopsTheRun) {
    const ValidationCase& c = GetParam();
    InstallTestWorld();
    auto job = std::make_unique<UpdateJob>();
    CreateUpdateJob(*job);
    job->info.deviceType = c.device.type;
    job->lastPage = c.device.lastPage;
    deviceReady = 1;

    PrepareAndValidateText(*job, reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size());

    EXPECT_EQ(deviceReady, c.accepted ? 1 : 0);
    EXPECT_EQ(FakeBoxes().size(), c.boxes);
    EXPECT_EQ(FakeErrorBoxCount(), c.boxes);
    if (c.accepted) {
        EXPECT_EQ(job->imageType, c.imageType);
        EXPECT_EQ(job->imageVerHi, c.imageVerHi);
        EXPECT_EQ(job->imageVerLo, c.imageVerLo);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Images, PrepareAndValidateCases,
    testing::Values(
        ValidationCase{"TextThatDoesNotLoadStopsWithoutBox", Rec(0x1400, {1, 2}, 1) + Signature(62, 0x83) + END,
                       {0x83, 62}, false, 0, 0, 0, 0},
        ValidationCase{"EndRecordOnlyIsRefused", END, {0x83, 62}, false, 1, 0, 0, 0},
        ValidationCase{"MatchingImagePage62", BODY + Signature(62, 0x83) + END, {0x83, 62}, true, 0, 0x83, 2, 5},
        ValidationCase{"MatchingImagePage29", BODY + Signature(29, 0x81, 1, 0) + END, {0x81, 29}, true, 0, 0x81, 1,
                       0},
        ValidationCase{"MatchingImagePage124", BODY + Signature(124, 0x86) + END, {0x86, 124}, true, 0, 0x86, 2, 5},
        ValidationCase{"OtherDeviceType", BODY + Signature(124, 0x86) + END, {0x84, 124}, false, 1, 0, 0, 0},
        ValidationCase{"HighestPage125", BODY + Signature(62, 0x83) + Rec(Base(125), {1}) + END, {0x83, 62}, false,
                       1, 0, 0, 0},
        ValidationCase{"HighestPage30", BODY + Signature(30, 0x83) + END, {0x83, 62}, false, 1, 0, 0, 0},
        ValidationCase{"Type80EvenOnA80Device", BODY + Signature(124, 0x80) + END, {0x80, 124}, false, 1, 0, 0, 0},
        ValidationCase{"Type87EvenOnA87Device", BODY + Signature(124, 0x87) + END, {0x87, 124}, false, 1, 0, 0, 0},
        ValidationCase{"UncoveredTypeReadsFF", BODY + Rec(Base(124), {1}) + END, {0xFF, 124}, false, 1, 0, 0, 0},
        ValidationCase{"UncoveredVersionReadsFF", BODY + Rec(Base(62) + 0x1FB, {0x83}) + END, {0x83, 62}, true, 0,
                       0x83, 0xFF, 0xFF},
        // The image ends above the device's last page: programming would
        // leave its top pages out and still mark the application valid.
        ValidationCase{"ImageAboveTheDevicesLastPage", BODY + Signature(124, 0x81) + END, {0x81, 29}, false, 1, 0,
                       0, 0},
        ValidationCase{"NoDeviceIdentified", BODY + Signature(62, 0x83) + END, {DEVICE_TYPE_UNKNOWN, CLOSED_LAST_PAGE},
                       false, 1, 0, 0, 0},
        // The last two bytes of the device's last page are where it writes
        // its signature: an image may leave them out or set them to 0xFF,
        // nothing else, not even the signature itself.
        ValidationCase{"DeviceSignatureBytesSet", BODY + Signature(62, 0x83) + Rec(Base(62) + 0x1FE, {0x00, 0x00}) + END,
                       {0x83, 62}, false, 1, 0, 0, 0},
        ValidationCase{"DeviceSignatureValueInTheImage",
                       BODY + Signature(62, 0x83) + Rec(Base(62) + 0x1FE, {0x3D, 0xC2}) + END, {0x83, 62}, false, 1,
                       0, 0, 0},
        ValidationCase{"SecondDeviceSignatureByteSet", BODY + Signature(124, 0x86) + Rec(Base(124) + 0x1FF, {0xFE}) + END,
                       {0x86, 124}, false, 1, 0, 0, 0},
        ValidationCase{"DeviceSignatureBytesFF", BODY + Signature(29, 0x81) + Rec(Base(29) + 0x1FE, {0xFF, 0xFF}) + END,
                       {0x81, 29}, true, 0, 0x81, 2, 5},
        // An image whose highest page lies below the device's last page does
        // not reach its signature bytes: the same offsets of its own highest
        // page are ordinary application bytes.
        ValidationCase{"SignaturePageBelowTheDevicesLastPage",
                       BODY + Signature(29, 0x83) + Rec(Base(29) + 0x1FE, {0x00, 0x00}) + END, {0x83, 62}, true, 0,
                       0x83, 2, 5}),
    [](const testing::TestParamInfo<ValidationCase>& param) { return std::string(param.param.name); });
// clang-format on

TEST(PrepareAndValidateImage, ExactlyOneKnownDeviceTypeAcceptsTheEmbeddedImage) {
    const Device devices[] = {{0x81, 29}, {0x82, 29}, {0x83, 62}, {0x84, 124}, {0x85, 62}, {0x86, 124}};
    InstallTestWorld();
    auto job = std::make_unique<UpdateJob>();
    size_t accepted = 0;
    testing::internal::CaptureStdout();
    for (const Device& device : devices) {
        CreateUpdateJob(*job);
        job->info.deviceType = device.type;
        job->lastPage = device.lastPage;
        deviceReady = 1;
        const size_t boxesBefore = FakeErrorBoxCount();
        PrepareAndValidateImage(*job);
        if (deviceReady == 1) {
            ++accepted;
            EXPECT_EQ(job->imageType, device.type);
            EXPECT_EQ(FakeErrorBoxCount(), boxesBefore);
        } else {
            EXPECT_EQ(FakeErrorBoxCount(), boxesBefore + 1) << "device type " << int{device.type};
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(accepted, 1u);
}

}  // namespace
