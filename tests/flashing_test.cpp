// Programming page by page with the page checksum, and the version check
// that asks before an unversioned or older image.
#include "flashing/flashing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "platform/seams.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t OLD = 0x11;

// A bootloader device of `type`, holding an old valid application, opened
// and identified; the job's image carries data in `pages` (pattern bytes).
struct Rig {
    UpdateJob job;
    SimDevice* device;
};

Rig& OpenRig(uint8_t type, std::initializer_list<unsigned> pages) {
    static Rig rig;
    InstallTestWorld();
    rig.device = SimAddDevice();
    SimSetDeviceType(rig.device, type);
    SimFillOldApplication(rig.device, OLD);
    SimSetInstalledApp(rig.device, 0, 0x90, true);
    CreateUpdateJob(rig.job);
    OpenDevice(rig.job);
    EXPECT_NE(rig.job.handle, NO_DEVICE);
    std::memset(rig.job.ImageBuffer, 0xFF, sizeof rig.job.ImageBuffer);
    std::memset(rig.job.PageMap, 0, sizeof rig.job.PageMap);
    for (unsigned page : pages) {
        for (size_t i = 0; i < PAGE_SIZE; ++i)
            rig.job.ImageBuffer[page * PAGE_SIZE + i] = static_cast<uint8_t>(page + i * 13);
        rig.job.PageMap[page] = 1;
    }
    if (rig.job.lastPage < PAGE_COUNT && rig.job.PageMap[rig.job.lastPage]) {
        // Leave the device's signature bytes erased, as a real image does.
        rig.job.ImageBuffer[rig.job.lastPage * PAGE_SIZE + 0x1FE] = 0xFF;
        rig.job.ImageBuffer[rig.job.lastPage * PAGE_SIZE + 0x1FF] = 0xFF;
    }
    gSimBus.calls.clear();
    gSimBus.callCount = 0;
    gFake.events.clear();
    return rig;
}

bool PageIs(const SimDevice* d, const UpdateJob& job, unsigned page) {
    return std::memcmp(d->flash + page * PAGE_SIZE, job.ImageBuffer + page * PAGE_SIZE, PAGE_SIZE) == 0;
}

bool PageFilled(const SimDevice* d, unsigned page, uint8_t fill) {
    for (size_t i = 0; i < PAGE_SIZE; ++i)
        if (d->flash[page * PAGE_SIZE + i] != fill) return false;
    return true;
}

// The command bytes of the packets, with the page of each select.
std::vector<Bytes> CommandsSent() {
    std::vector<Bytes> out;
    for (const auto& p : WrittenPackets()) out.push_back(p[0] == 0x01 ? Bytes{p[0], p[1]} : Bytes{p[0]});
    return out;
}

TEST(PageCrc, KnownValuesAndAgreementWithTheBitwiseForm) {
    UpdateJob& job = OpenRig(0x81, {}).job;
    std::memset(job.ImageBuffer + 10 * PAGE_SIZE, 0xFF, PAGE_SIZE);
    std::memset(job.ImageBuffer + 11 * PAGE_SIZE, 0x00, PAGE_SIZE);
    EXPECT_EQ(PageCrc(job, 10), 0x85FE);
    EXPECT_EQ(PageCrc(job, 11), 0x0000);
    std::mt19937 random(7);
    for (unsigned page = 12; page < PAGE_COUNT; ++page) {
        for (size_t i = 0; i < PAGE_SIZE; ++i) job.ImageBuffer[page * PAGE_SIZE + i] = static_cast<uint8_t>(random());
        EXPECT_EQ(PageCrc(job, static_cast<uint8_t>(page)), SimCrc16(job.ImageBuffer + page * PAGE_SIZE, PAGE_SIZE));
    }
}

TEST(ProgramFlash, WritesExactlyTheCarriedPagesAfterErasingTheSignaturePage) {
    Rig& rig = OpenRig(0x81, {12, 15, 40});  // last page 29; page 40 lies beyond it
    ASSERT_TRUE(ProgramFlash(rig.job));
    const std::vector<Bytes> expected = {{0x06},     {0x01, 29}, {0x02},          // key, signature page erased first
                                         {0x01, 12}, {0x02},     {0x03}, {0x03},  // page 12
                                         {0x01, 15}, {0x02},     {0x03}, {0x03},  // page 15
                                         {0x07},     {0x00},     {0x06}};         // signature, read back, lock
    EXPECT_EQ(CommandsSent(), expected);
    EXPECT_EQ(WrittenPackets().front(), (Bytes{0x06, FLASH_KEY_FIRST, FLASH_KEY_SECOND}));
    EXPECT_EQ(WrittenPackets().back(), (Bytes{0x06, 0x00, 0x00}));
    EXPECT_TRUE(PageIs(rig.device, rig.job, 12));
    EXPECT_TRUE(PageIs(rig.device, rig.job, 15));
    EXPECT_TRUE(PageFilled(rig.device, 13, OLD)) << "a page without data keeps its old content";
    EXPECT_TRUE(PageFilled(rig.device, 40, OLD)) << "nothing is written above the last page";
    EXPECT_TRUE(SimHasValidApp(rig.device));
    EXPECT_EQ(FakeBoxes().size(), 0u);
}

TEST(ProgramFlash, LastPageWithDataIsErasedTwiceAndWrittenLast) {
    Rig& rig = OpenRig(0x81, {10, 29});
    ASSERT_TRUE(ProgramFlash(rig.job));
    const auto sent = CommandsSent();
    EXPECT_EQ(sent[1], (Bytes{0x01, 29}));
    EXPECT_EQ(sent[7], (Bytes{0x01, 29}));
    EXPECT_EQ(rig.device->pagesErased, 3u);
    EXPECT_EQ(rig.device->flash[29 * PAGE_SIZE], rig.job.ImageBuffer[29 * PAGE_SIZE]);
}

TEST(ProgramFlash, NoDeviceSendsNothing) {
    Rig& rig = OpenRig(0x81, {10});
    CloseDevice(rig.job);
    gSimBus.calls.clear();
    EXPECT_FALSE(ProgramFlash(rig.job));
    EXPECT_TRUE(gSimBus.calls.empty());
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
}

TEST(ProgramFlash, ChecksumMismatchStopsAtThatPage) {
    Rig& rig = OpenRig(0x81, {10, 11, 12, 13});
    // Calls per exchange with immediate replies: write, poll, read. Key 1-3,
    // erase of 29: 4-9, page 10: 10-27 (its half 1 write is call 21), page
    // 11: 28-45 (half 1 at 39).
    SimSetFault(SimFaultKind::WrongChecksum, 39);
    EXPECT_FALSE(ProgramFlash(rig.job));
    EXPECT_TRUE(PageIs(rig.device, rig.job, 10));
    EXPECT_TRUE(PageIs(rig.device, rig.job, 11)) << "written, but its checksum came back wrong";
    EXPECT_TRUE(PageFilled(rig.device, 12, OLD)) << "nothing after it is sent";
    EXPECT_FALSE(SimHasValidApp(rig.device));
    EXPECT_TRUE(rig.device->keyAccepted) << "the key is not cleared after a failure";
    EXPECT_EQ(CommandsSent().back(), Bytes{0x03});
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
}

// A page of zeros checksums to 0, the value the checksum variable starts
// with: a checksum that never arrives must still fail the page.
TEST(ProgramFlash, MissingChecksumFailsEvenForAPageWhoseChecksumIsZero) {
    Rig& rig = OpenRig(0x81, {10});
    std::memset(rig.job.ImageBuffer + 10 * PAGE_SIZE, 0x00, PAGE_SIZE);
    SimSetFault(SimFaultKind::PartialReply, 21);  // page 10's half 1
    EXPECT_FALSE(ProgramFlash(rig.job));
    EXPECT_FALSE(SimHasValidApp(rig.device));
}

// The device held a valid signature before programming. When the read-back
// after writing the new one brings no new reply, the old value must not
// pass for the new one.
TEST(ProgramFlash, SignatureMustBeReadBackAfterItWasWritten) {
    // The boxes: the identification's (after ReadDeviceInfo's own when its
    // write fails), then the programming's.
    const std::pair<SimFaultKind, size_t> faults[] = {{SimFaultKind::MissingReply, 2},
                                                      {SimFaultKind::LateReply, 2},
                                                      {SimFaultKind::PartialReply, 2},
                                                      {SimFaultKind::FailStatus, 3}};
    for (const auto& [fault, boxes] : faults) {
        Rig& rig = OpenRig(0x81, {10});
        ASSERT_EQ(rig.job.info.signature, 0x3DC2u);
        // key 1-3, erase 4-9, page 10: 10-27, signature 28-30, info write 31
        SimSetFault(fault, 31);
        EXPECT_FALSE(ProgramFlash(rig.job)) << SimFaultName(fault);
        EXPECT_EQ(FakeErrorBoxCount(), boxes) << SimFaultName(fault);
        EXPECT_TRUE(rig.device->keyAccepted) << SimFaultName(fault);
    }
}

// A flipped bit in a page that the device then checksums honestly: the
// page's checksum differs from the image's, so the page fails.
TEST(ProgramFlash, PageStoredWithAFlippedBitFails) {
    Rig& rig = OpenRig(0x81, {10, 11, 12});
    // key 1-3, erase of 29: 4-9, page 10: 10-27, page 11: 28-45 (half 0 at 34)
    SimSetFault(SimFaultKind::FlippedBit, 34);
    EXPECT_FALSE(ProgramFlash(rig.job));
    EXPECT_FALSE(PageIs(rig.device, rig.job, 11));
    EXPECT_TRUE(PageFilled(rig.device, 12, OLD)) << "nothing after it is sent";
    EXPECT_FALSE(SimHasValidApp(rig.device));
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
}

TEST(VersionCheck, AsksBeforeAnUnversionedOrOlderImage) {
    struct Case {
        uint16_t image;
        uint16_t device;
        int answer;
        const wchar_t* question;  // caption of the question, or nullptr
        bool programs;
    };
    const Case cases[] = {
        {0xFFFF, 0x0100, ANSWER_NO, L" ", false},
        {0xFFFF, 0xFFFF, ANSWER_YES, L" ", true},
        {0xFFFF, 0x0100, 0, L" ", true},  // the box could not be shown
        {0xFF00, 0x0102, ANSWER_NO, nullptr, true},
        {0x0101, 0x0102, ANSWER_NO, L"Error", false},
        {0x0101, 0x0102, ANSWER_YES, L"Error", true},
        {0x0001, 0xFFFF, ANSWER_NO, nullptr, true},
        {0x0102, 0x0102, ANSWER_NO, nullptr, true},
        {0x0103, 0x0102, ANSWER_NO, nullptr, true},
    };
    for (const auto& c : cases) {
        Rig& rig = OpenRig(0x81, {10, 29});
        rig.job.imageVerHi = static_cast<uint8_t>(c.image >> 8);
        rig.job.imageVerLo = static_cast<uint8_t>(c.image);
        rig.job.info.appVerHi = static_cast<uint8_t>(c.device >> 8);
        rig.job.info.appVerLo = static_cast<uint8_t>(c.device);
        gFake.answers = {c.answer};
        deviceReady = 1;
        VersionCheckAndProgram(rig.job);
        const auto boxes = FakeBoxes();
        const std::string what = "image " + std::to_string(c.image) + " device " + std::to_string(c.device);
        size_t next = 0;
        if (c.question) {
            ASSERT_GE(boxes.size(), 1u) << what;
            EXPECT_EQ(boxes[0].text, L"Error") << what;
            EXPECT_EQ(boxes[0].caption, c.question) << what;
            EXPECT_EQ(boxes[0].style, BOX_YESNO) << what;
            next = 1;
        }
        if (c.programs) {
            ASSERT_EQ(boxes.size(), next + 1) << what;
            EXPECT_EQ(boxes[next].text, L"OK") << what;
            EXPECT_EQ(boxes[next].caption, L" ") << what;
            EXPECT_EQ(boxes[next].style, BOX_ICONWARNING) << what;
            EXPECT_TRUE(PageIs(rig.device, rig.job, 10)) << what;
        } else {
            EXPECT_EQ(boxes.size(), next) << what;
            EXPECT_TRUE(gSimBus.calls.empty()) << what << ": nothing is sent after No";
        }
        EXPECT_EQ(deviceReady, 1) << what;
    }
}

// After a No nothing is sent. Whether the device may still be told to run
// depends on what identification read: the application signature or not.
TEST(VersionCheck, NoOverADeviceWithoutAValidApplicationClearsDeviceReady) {
    struct Case {
        uint16_t image;
        uint32_t signature;
        int answer;
        uint8_t ready;
    };
    const Case cases[] = {
        {0xFFFF, 0x3DC2, ANSWER_NO, 1},  {0xFFFF, 0xFFFF, ANSWER_NO, 0}, {0xFFFF, 0x3DC3, ANSWER_NO, 0},
        {0x0101, 0x3DC2, ANSWER_NO, 1},  {0x0101, 0xFFFF, ANSWER_NO, 0}, {0x0101, 0x0000, ANSWER_NO, 0},
        {0x0101, 0xFFFF, ANSWER_YES, 1},
    };
    for (const auto& c : cases) {
        Rig& rig = OpenRig(0x81, {10, 29});
        rig.job.imageVerHi = static_cast<uint8_t>(c.image >> 8);
        rig.job.imageVerLo = static_cast<uint8_t>(c.image);
        rig.job.info.appVerHi = 0x01;
        rig.job.info.appVerLo = 0x02;
        rig.job.info.signature = c.signature;
        gFake.answers = {c.answer};
        deviceReady = 1;
        VersionCheckAndProgram(rig.job);
        const std::string what = "image " + std::to_string(c.image) + " signature " + std::to_string(c.signature);
        EXPECT_EQ(deviceReady, c.ready) << what;
        EXPECT_EQ(gSimBus.calls.empty(), c.answer == ANSWER_NO) << what;
        EXPECT_EQ(FakeBoxes().size(), c.answer == ANSWER_NO ? 1u : 2u) << what;
    }
}

TEST(VersionCheck, FailedProgrammingShowsTwoBoxesAndClearsDeviceReady) {
    Rig& rig = OpenRig(0x81, {10});
    rig.job.imageVerHi = 1;
    SimSetFault(SimFaultKind::BadAck, 1);  // the flash key is refused
    deviceReady = 1;
    VersionCheckAndProgram(rig.job);
    EXPECT_EQ(FakeErrorBoxCount(), 2u);
    EXPECT_EQ(deviceReady, 0);
}

}  // namespace
