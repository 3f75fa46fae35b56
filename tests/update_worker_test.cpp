// The whole update, start to end, against the simulated device on the
// virtual clock: the device's flash afterwards, the texts, the boxes.
#include "worker/update_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bootloader/commands.h"
#include "image/image_signature.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "tests/test_support.h"

namespace {

constexpr uint8_t OLD_FILL = 0x11;

struct Device {
    SimMode mode = SimMode::Application;
    uint8_t type = 0x83;
    uint8_t verHi = 0x00, verLo = 0x90;
    bool validApp = true;
};

// Adds a device to the bus as it is now.
SimDevice* AddDevice(const Device& spec) {
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = spec.mode;
    SimSetDeviceType(d, spec.type);
    SimFillOldApplication(d, OLD_FILL);
    SimSetInstalledApp(d, spec.verHi, spec.verLo, spec.validApp);
    return d;
}

// A new bus with this one device on it.
SimDevice* AttachDevice(const Device& spec, uint32_t startTick = 1000) {
    InstallTestWorld(startTick);
    return AddDevice(spec);
}

std::vector<std::wstring> Texts() {
    std::vector<std::wstring> out;
    for (const auto& t : FakeTexts()) out.push_back(std::to_wstring(t.x) + L"," + std::to_wstring(t.y) + L":" + t.text);
    return out;
}

const std::vector<std::wstring> TEXTS_OK = {L"10,10:Working                ", L"10,10:OK           ",
                                            L"10,40:REBOOT                       "};
const std::vector<std::wstring> TEXTS_ERROR = {L"10,10:Working                ", L"10,10:ERROR            "};

size_t Count(SimOp op) {
    size_t n = 0;
    for (const auto& c : gSimBus.calls) n += c.op == op;
    return n;
}

TEST(UpdateWorker, SwitchesProgramsAndStartsAnApplicationModeDevice) {
    ASSERT_TRUE(DemoImage().PageMap[62]) << "the demo image ends at page 62";
    SimDevice* d = AttachDevice({});
    EXPECT_EQ(UpdateWorker(), 0u);

    EXPECT_EQ(Texts(), TEXTS_OK);
    const auto boxes = FakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"OK");
    EXPECT_EQ(boxes[0].caption, L" ");
    EXPECT_EQ(boxes[0].style, BOX_ICONWARNING);

    EXPECT_TRUE(DeviceHoldsImage(d, DemoImage(), OLD_FILL));
    EXPECT_TRUE(SimHasValidApp(d));
    EXPECT_EQ(d->modeSwitches, 1u);
    EXPECT_EQ(d->runCommands, 1u);
    EXPECT_EQ(d->checksumsSent, 53u) << "pages 10..62";
    EXPECT_FALSE(d->keyAccepted) << "flash writing is locked again";
    EXPECT_FALSE(d->open);
    EXPECT_EQ(Count(SimOp::Open), Count(SimOp::Close)) << "every handle is closed";

    EXPECT_EQ(gFake.lockInits, 1);
    EXPECT_EQ(gFake.lockDeletes, 1);
    EXPECT_EQ(gFake.maxLockDepth, 1);
    EXPECT_EQ(gFake.sleptMs, RESTART_WAIT_MS);
    for (const auto& call : gSimBus.calls) ASSERT_EQ(call.lockDepth, 1);
    for (const auto& e : gFake.events) EXPECT_EQ(e.lockDepth, 0);

    // The device restarts into the new application.
    gFake.now += 1000;
    uint32_t count = 0;
    gUsb.getDeviceCount(&count);
    EXPECT_EQ(d->mode, SimMode::Application);
}

TEST(UpdateWorker, OutcomeByScenario) {
    struct Case {
        const char* what;
        Device device;
        std::vector<int> answers;
        bool updated;
        std::vector<std::wstring> texts;
        std::vector<std::wstring> boxes;  // text|caption of each box
    };
    const std::vector<Case> cases = {
        {"already in its bootloader", {SimMode::Bootloader}, {}, true, TEXTS_OK, {L"OK| "}},
        {"same version", {SimMode::Application, 0x83, 0x01, 0x00}, {}, true, TEXTS_OK, {L"OK| "}},
        {"installed version 0xFFFF", {SimMode::Application, 0x83, 0xFF, 0xFF}, {}, true, TEXTS_OK, {L"OK| "}},
        {"older image, answered yes",
         {SimMode::Application, 0x83, 0x01, 0x01},
         {ANSWER_YES},
         true,
         TEXTS_OK,
         {L"Error|Error", L"OK| "}},
        {"older image, answered no",
         {SimMode::Application, 0x83, 0x02, 0x00},
         {ANSWER_NO},
         false,
         TEXTS_OK,
         {L"Error|Error"}},
        {"device of type 0x81", {SimMode::Bootloader, 0x81}, {}, false, TEXTS_ERROR, {L"Error| "}},
        {"device of type 0x84", {SimMode::Application, 0x84}, {}, false, TEXTS_ERROR, {L"Error| "}},
        {"device of type 0x85 (same last page)", {SimMode::Application, 0x85}, {}, false, TEXTS_ERROR, {L"Error| "}},
    };
    for (const auto& c : cases) {
        SimDevice* d = AttachDevice(c.device);
        gFake.answers = c.answers;
        EXPECT_EQ(UpdateWorker(), 0u) << c.what;
        EXPECT_EQ(Texts(), c.texts) << c.what;
        std::vector<std::wstring> boxes;
        for (const auto& b : FakeBoxes()) boxes.push_back(b.text + L"|" + b.caption);
        EXPECT_EQ(boxes, c.boxes) << c.what;
        EXPECT_EQ(DeviceHoldsImage(d, DemoImage(), OLD_FILL), c.updated) << c.what;
        EXPECT_TRUE(SimHasValidApp(d)) << c.what << ": the old application stays valid when nothing is written";
        EXPECT_EQ(d->runCommands, c.texts == TEXTS_OK ? 1u : 0u) << c.what;
        EXPECT_EQ(d->pagesErased == 0, !c.updated) << c.what << ": nothing is erased unless it is programmed";
        EXPECT_EQ(gFake.lockInits, 1) << c.what;
        EXPECT_EQ(gFake.lockDeletes, 1) << c.what;
    }
}

TEST(UpdateWorker, NoDeviceEndsEarlyWithExitCodeOne) {
    InstallTestWorld();
    EXPECT_EQ(UpdateWorker(), 1u);
    EXPECT_TRUE(FakeTexts().empty());
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
    EXPECT_EQ(FakeBoxes().size(), 1u);
    EXPECT_EQ(gFake.sleptMs, 0u);
    EXPECT_EQ(gFake.lockInits, 1);
    EXPECT_EQ(gFake.lockDeletes, 1);
}

TEST(UpdateWorker, DeviceThatDoesNotComeBackEndsWithError) {
    SimDevice* d = AttachDevice({});
    d->rebootDelayMs = 5000;  // still restarting at the second discovery
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(Texts(), TEXTS_ERROR);
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
    EXPECT_EQ(d->pagesErased, 0u);
}

TEST(UpdateWorker, FailedProgrammingDoesNotStartTheDeviceNorSayOk) {
    SimDevice* d = AttachDevice({SimMode::Bootloader});
    d->eraseDelayMs = 500;  // every erase reply comes too late
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(Texts(), TEXTS_ERROR);
    EXPECT_EQ(FakeErrorBoxCount(), 2u) << "the programming box, then the result box";
    EXPECT_EQ(d->runCommands, 0u);
    EXPECT_FALSE(SimHasValidApp(d)) << "the signature page was erased first";
    EXPECT_FALSE(d->open);
}

// The device leaves the bus right after the first half of page 30 was
// written. The run's library calls are those of any failing run: the
// acknowledgement polls fail for their window, the second half's write
// fails, the device is closed. The core asks the bus no device count to
// name the cause (a front end that wants it asks itself).
TEST(UpdateWorker, DeviceLeavingTheBusMidPageCostsNoLibraryCallToNameTheCause) {
    // Where the half-0 write of page 30 falls in a run of this device.
    AttachDevice({SimMode::Bootloader});
    EXPECT_EQ(UpdateWorker(), 0u);
    uint32_t half0 = 0;  // its call number
    int halves = 0;
    for (size_t i = 0; i < gSimBus.calls.size() && half0 == 0; ++i) {
        const SimCall& c = gSimBus.calls[i];
        const bool firstHalf = c.op == SimOp::Write && c.bytes.size() == 258 && c.bytes[0] == 0x03 && c.bytes[1] == 0;
        if (firstHalf && ++halves == 21) half0 = static_cast<uint32_t>(i + 1);  // pages 10, 11, ... 30
    }
    ASSERT_NE(half0, 0u);

    SimDevice* d = AttachDevice({SimMode::Bootloader});
    SimSetFault(SimFaultKind::Vanish, half0 + 1);
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(Texts(), TEXTS_ERROR);
    EXPECT_TRUE(d->gone);
    std::vector<SimOp> after;
    for (size_t i = half0; i < gSimBus.calls.size(); ++i) after.push_back(gSimBus.calls[i].op);
    ASSERT_FALSE(after.empty());
    const size_t polls = static_cast<size_t>(std::count(after.begin(), after.end(), SimOp::QueryRxQueue));
    EXPECT_GT(polls, 10u) << "the acknowledgement polls fail for their window";
    std::vector<SimOp> expected(polls, SimOp::QueryRxQueue);
    expected.push_back(SimOp::Write);  // the second half, which fails
    expected.push_back(SimOp::Close);
    EXPECT_EQ(after, expected);
}

TEST(UpdateWorker, StartsJustBelowTheWrapOfTheTickCounter) {
    SimDevice* d = AttachDevice({}, 0xFFFFFF00u);
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(Texts(), TEXTS_OK);
    EXPECT_TRUE(DeviceHoldsImage(d, DemoImage(), OLD_FILL));
    EXPECT_LT(gFake.now, 0xFFFFFF00u) << "the run crossed the wrap";
}

TEST(UpdateWorker, SecondRunInTheSameProcessLoadsTheImageAgain) {
    SimDevice* d = AttachDevice({});
    ASSERT_EQ(UpdateWorker(), 0u);
    gFake.now += 1000;
    SimFillOldApplication(d, OLD_FILL);
    SimSetInstalledApp(d, 0, 0x90, true);
    gFake.events.clear();
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(Texts(), TEXTS_OK);
    EXPECT_TRUE(DeviceHoldsImage(d, DemoImage(), OLD_FILL));
}

uint8_t PatternAt(size_t address) { return static_cast<uint8_t>(address * 7 + (address >> 9)); }

// Every page of the programming range, up to the last page of the device's
// type: the last page is written, and the signature lands on it.
TEST(UpdateWorker, WholeUpdateUpToTheLastPageOfEachType) {
    const std::pair<uint8_t, unsigned> types[] = {{0x81, 29}, {0x84, 124}, {0x86, 124}};
    for (const auto& [type, lastPage] : types) {
        const TestImage image = MakeTestImage(type, 0x0100, 10, lastPage, PatternAt);
        gTestImageText = ImageHexText(image);
        SimDevice* d = AttachDevice({SimMode::Application, type});
        EXPECT_EQ(UpdateWorkerWith(TestImageStep), 0u);
        const std::string what = "type " + std::to_string(type);
        EXPECT_EQ(Texts(), TEXTS_OK) << what;
        EXPECT_TRUE(DeviceHoldsImage(d, LoadedTestImage(), OLD_FILL)) << what;
        EXPECT_EQ(0, std::memcmp(d->flash + lastPage * PAGE_SIZE, image.flash.data() + lastPage * PAGE_SIZE,
                                 DEVICE_SIGNATURE_OFFSET))
            << what << ": the last page holds the image";
        EXPECT_TRUE(SimHasValidApp(d)) << what;
        EXPECT_EQ(d->checksumsSent, lastPage - 9) << what << ": pages 10.." << lastPage;
        EXPECT_EQ(d->runCommands, 1u) << what;
    }
}

// An image that sets the bytes where the device writes its signature (one
// embedded with the embedding tool's check off) would have the device
// erased and then fail at the signature on every run. It is refused as any
// other image the device cannot take, before flash writing is unlocked.
TEST(UpdateWorker, ImageOverTheDevicesSignatureBytesIsRefusedBeforeTheFlashKey) {
    const TestImage image = MakeTestImage(0x83, 0x0100, 10, 62, PatternAt);
    const std::string text = ImageHexText(image);
    const std::string signatureBytes = HexRecord(62 * PAGE_SIZE + DEVICE_SIGNATURE_OFFSET, 0x00, {0x00, 0x00}) + "\n";
    gTestImageText = text.substr(0, text.rfind(':')) + signatureBytes + text.substr(text.rfind(':'));
    SimDevice* d = AttachDevice({});
    static uint8_t before[SIM_FLASH_SIZE];
    std::memcpy(before, d->flash, sizeof before);

    EXPECT_EQ(UpdateWorkerWith(TestImageStep), 0u);

    EXPECT_EQ(Texts(), TEXTS_ERROR);
    std::vector<std::wstring> boxes;
    for (const auto& b : FakeBoxes()) boxes.push_back(b.text + L"|" + b.caption);
    EXPECT_EQ(boxes, std::vector<std::wstring>{L"Error| "}) << "the box of a refused image";
    for (const auto& packet : WrittenPackets()) EXPECT_NE(packet[0], CMD_SET_FLASH_KEY);
    EXPECT_EQ(0, std::memcmp(before, d->flash, sizeof before)) << "flash untouched";
    EXPECT_TRUE(SimHasValidApp(d));
    EXPECT_EQ(d->runCommands, 0u);
}

// A No keeps the device as it is. Only a device whose identification showed
// a valid application may then be told to run: version bytes without the
// signature are what an update that stopped after its pages leaves behind.
TEST(UpdateWorker, DeclinedImageOverADeviceWithoutAValidApplicationEndsInError) {
    struct Case {
        const char* what;
        Device device;
        bool unversionedImage;
        int answer;
        bool ok;
        bool programmed;
    };
    const Case cases[] = {
        {"older image, No, no valid application",
         {SimMode::Bootloader, 0x83, 0x02, 0x00, false},
         false,
         ANSWER_NO,
         false,
         false},
        {"older image, No, valid application",
         {SimMode::Bootloader, 0x83, 0x02, 0x00, true},
         false,
         ANSWER_NO,
         true,
         false},
        {"unversioned image, No, no valid application",
         {SimMode::Bootloader, 0x83, 0x00, 0x90, false},
         true,
         ANSWER_NO,
         false,
         false},
        {"unversioned image, No, valid application",
         {SimMode::Application, 0x83, 0x00, 0x90, true},
         true,
         ANSWER_NO,
         true,
         false},
        {"older image, Yes, no valid application",
         {SimMode::Bootloader, 0x83, 0x02, 0x00, false},
         false,
         ANSWER_YES,
         true,
         true},
    };
    static uint8_t before[SIM_FLASH_SIZE];
    for (const auto& c : cases) {
        const TestImage image = MakeTestImage(0x83, c.unversionedImage ? 0xFFFF : 0x0100, 10, 62, PatternAt);
        gTestImageText = ImageHexText(image);
        SimDevice* d = AttachDevice(c.device);
        std::memcpy(before, d->flash, sizeof before);
        gFake.answers = {c.answer};
        EXPECT_EQ(UpdateWorkerWith(TestImageStep), 0u) << c.what;
        EXPECT_EQ(Texts(), c.ok ? TEXTS_OK : TEXTS_ERROR) << c.what;
        EXPECT_EQ(d->runCommands, c.ok ? 1u : 0u) << c.what;
        const auto boxes = FakeBoxes();
        ASSERT_GE(boxes.size(), 1u) << c.what;
        EXPECT_EQ(boxes[0].style, BOX_YESNO) << c.what << ": the question";
        EXPECT_EQ(boxes.size(), c.programmed ? 2u : 1u) << c.what << ": no box of its own after the No";
        if (c.programmed) {
            EXPECT_TRUE(DeviceHoldsImage(d, LoadedTestImage(), OLD_FILL)) << c.what;
            EXPECT_TRUE(SimHasValidApp(d)) << c.what;
        } else {
            EXPECT_EQ(0, std::memcmp(before, d->flash, sizeof before)) << c.what << ": flash untouched";
        }
    }
}

// A page whose own checksum is 0xFFFF: the bytes that a read which
// delivered nothing leaves in the checksum's buffer. The device stores only
// the first half of that page, and the read of its (honest) checksum
// reports success yet delivers nothing. The page is broken; the signature
// must not follow it.
uint8_t ChecksumFfffPageAt(size_t address) { return static_cast<uint8_t>(address * 13 + 5); }

TEST(UpdateWorker, ShortReadOfTheChecksumOfABrokenPageIsAFailure) {
    constexpr unsigned PAGE = 20;
    TestImage image = MakeTestImage(0x83, 0x0100, 10, 62, ChecksumFfffPageAt);
    uint8_t* page = image.flash.data() + PAGE * PAGE_SIZE;
    for (unsigned v = 0; v < 0x10000 && SimCrc16(page, PAGE_SIZE) != 0xFFFF; ++v) {
        page[510] = static_cast<uint8_t>(v >> 8);
        page[511] = static_cast<uint8_t>(v);
    }
    ASSERT_EQ(SimCrc16(page, PAGE_SIZE), 0xFFFF);
    gTestImageText = ImageHexText(image);

    auto attach = [] {
        SimDevice* d = AttachDevice({SimMode::Bootloader});
        d->dropsSecondHalfOfPage = PAGE;
        return d;
    };
    // Where the checksum of the page is read: the first 2-byte read after
    // the page was selected.
    attach();
    UpdateWorkerWith(TestImageStep);
    uint32_t checksumRead = 0;
    bool selected = false;
    for (size_t i = 0; i < gSimBus.calls.size() && checksumRead == 0; ++i) {
        const SimCall& call = gSimBus.calls[i];
        if (call.op == SimOp::Write && call.bytes.size() == 2 && call.bytes[0] == 0x01) {
            selected = call.bytes[1] == PAGE;
        }
        if (selected && call.op == SimOp::Read && call.length == 2) checksumRead = static_cast<uint32_t>(i + 1);
    }
    ASSERT_NE(checksumRead, 0u);

    SimDevice* d = attach();
    SimSetFault(SimFaultKind::ShortRead, checksumRead);
    UpdateWorkerWith(TestImageStep);
    ASSERT_GE(gSimBus.calls.size(), checksumRead);
    EXPECT_TRUE(gSimBus.calls[checksumRead - 1].bytes.empty()) << "the read delivered nothing";
    EXPECT_EQ(Texts(), TEXTS_ERROR);
    EXPECT_FALSE(SimHasValidApp(d)) << "no signature over the broken page";
    EXPECT_EQ(d->runCommands, 0u);
    EXPECT_EQ(d->flash[PAGE * PAGE_SIZE + 256], 0xFF) << "the page is indeed broken";
}

// The device acknowledges the signature but does not store it, and the
// identification that should read it back brings no new reply. The
// signature seen before programming must not stand in for it.
TEST(UpdateWorker, SignatureThatIsNotReadBackIsAFailure) {
    for (SimFaultKind fault : {SimFaultKind::MissingReply, SimFaultKind::LateReply, SimFaultKind::ShortRead}) {
        SimDevice* d = AttachDevice({});
        ASSERT_TRUE(SimHasValidApp(d));
        d->dropsSignature = true;
        UpdateWorker();
        uint32_t signaturePacket = 0;
        for (const auto& p : WrittenPackets()) {
            ++signaturePacket;
            if (p[0] == 0x07) break;
        }
        d = AttachDevice({});
        d->dropsSignature = true;
        SimSetFault(fault, signaturePacket + 1);  // the identification after it
        gSimBus.faultCountsWrites = true;
        UpdateWorker();
        EXPECT_EQ(WrittenPackets().at(signaturePacket), std::vector<uint8_t>{0x00}) << SimFaultName(fault);
        EXPECT_EQ(Texts(), TEXTS_ERROR) << SimFaultName(fault);
        EXPECT_EQ(d->runCommands, 0u) << SimFaultName(fault);
        EXPECT_FALSE(SimHasValidApp(d)) << SimFaultName(fault);
    }
}

// The wait between the two discoveries, in virtual time: from the last call
// of the first discovery to the first call of the second. A device whose
// restart takes a little less is found; one that takes a little more is not.
TEST(UpdateWorker, WaitsTwoSecondsBetweenTheDiscoveries) {
    struct Case {
        SimMode mode;
        uint32_t restartMs;
        bool found;
    };
    const Case cases[] = {
        {SimMode::Bootloader, 500, true},
        {SimMode::Application, 500, true},
        {SimMode::Application, 1990, true},
        {SimMode::Application, 2010, false},
    };
    for (const auto& c : cases) {
        SimDevice* d = AttachDevice({c.mode});
        d->rebootDelayMs = c.restartMs;
        UpdateWorker();
        const std::string what = "restart " + std::to_string(c.restartMs) + " ms";
        EXPECT_EQ(Texts(), c.found ? TEXTS_OK : TEXTS_ERROR) << what;
        // The second discovery starts with the second device count.
        size_t counts = 0;
        bool measured = false;
        for (size_t i = 1; i < gSimBus.calls.size() && !measured; ++i) {
            if (gSimBus.calls[i].op != SimOp::DeviceCount || ++counts < (c.mode == SimMode::Bootloader ? 1u : 2u))
                continue;
            const uint32_t gap = gSimBus.calls[i].time - gSimBus.calls[i - 1].time;
            EXPECT_GE(gap, 2000u) << what;
            EXPECT_LE(gap, 2001u) << what;
            measured = true;
        }
        EXPECT_TRUE(measured) << what;
    }
}

// The lock lives from before the first library call to after the last, the
// close: no call is made under a lock that was deleted or not yet made.
TEST(UpdateWorker, LockIsDeletedOnlyAfterTheDeviceIsClosed) {
    struct Case {
        const char* what;
        Device device;
        uint32_t eraseDelayMs;
    };
    const Case cases[] = {
        {"update", {SimMode::Application}, 0},
        {"refused image", {SimMode::Bootloader, 0x81}, 0},
        {"failed programming", {SimMode::Bootloader}, 500},
    };
    for (const auto& c : cases) {
        SimDevice* d = AttachDevice(c.device);
        d->eraseDelayMs = c.eraseDelayMs;
        UpdateWorker();
        EXPECT_EQ(gFake.lockInits, 1) << c.what;
        EXPECT_EQ(gFake.lockDeletes, 1) << c.what;
        EXPECT_EQ(gFake.lockEntersOutsideLife, 0) << c.what;
        ASSERT_FALSE(gSimBus.calls.empty()) << c.what;
        EXPECT_EQ(gSimBus.calls.back().op, SimOp::Close) << c.what;
        EXPECT_EQ(gSimBus.calls.back().status, USB_OK) << c.what;
        EXPECT_FALSE(d->open) << c.what;
    }
}

TEST(WorkerSlot, OnlyOneWorkerAtATime) {
    ASSERT_TRUE(ClaimWorkerSlot());
    EXPECT_FALSE(ClaimWorkerSlot()) << "a second command during a run is ignored";
    ReleaseWorkerSlot();
    EXPECT_TRUE(ClaimWorkerSlot());
    ReleaseWorkerSlot();
}

}  // namespace

namespace {

// The packet number (counting writes from 1) of the signature write in a
// plain update of `spec`.
uint32_t SignaturePacket(const Device& spec) {
    AttachDevice(spec);
    UpdateWorker();
    uint32_t packet = 0;
    for (const auto& p : WrittenPackets()) {
        ++packet;
        if (p[0] == 0x07) return packet;
    }
    ADD_FAILURE() << "no signature write";
    return 0;
}

std::vector<std::wstring> BoxTexts() {
    std::vector<std::wstring> out;
    for (const auto& b : FakeBoxes()) out.push_back(b.text);
    return out;
}

// Counts the stop queries and answers yes from query `gStopFrom` on.
uint32_t gStopQueries = 0;
uint32_t gStopFrom = 0;
bool StopFromQuery() { return ++gStopQueries >= gStopFrom; }

}  // namespace

// The identification that reads the signature back gets a corrupted reply
// (device type 0x00) whose signature bytes are right: it shows its box, and
// a failed identification confirms nothing. No "OK", and no run command.
TEST(UpdateWorker, SignatureFromAFailedIdentificationIsNotConfirmed) {
    const uint32_t signaturePacket = SignaturePacket({});
    SimDevice* d = AttachDevice({});
    SimSetFault(SimFaultKind::BadAck, signaturePacket + 1);
    gSimBus.faultCountsWrites = true;
    UpdateWorker();
    EXPECT_EQ(WrittenPackets().at(signaturePacket), std::vector<uint8_t>{0x00}) << "the read-back identification";
    EXPECT_EQ(Texts(), TEXTS_ERROR);
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{L"Error", L"Error", L"Error"}))
        << "the identification's box, programming's, and the result box";
    EXPECT_EQ(d->runCommands, 0u);
}

// A second device sits in its bootloader while the switched one is still
// restarting when the wait ends (or never comes back to a polled wait). The
// bootloader on the bus then is the bystander: it must not get the update,
// and the run must not end in "OK".
TEST(UpdateWorker, BystanderInItsBootloaderIsNotTakenForTheSwitchedDevice) {
    struct Case {
        const char* what;
        RestartWait wait;
        uint32_t restartMs;
    };
    const Case cases[] = {
        {"fixed wait, back 500 ms after it", FIXED_RESTART_WAIT, RESTART_WAIT_MS + 500},
        {"polled wait, never back", RestartWait{RESTART_POLL_LIMIT_MS, true, false}, 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        SimDevice* switched = AttachDevice({});
        switched->rebootDelayMs = c.restartMs;
        SimDevice* bystander = SimAddDevice();  // in its bootloader from the start
        SimSetDeviceType(bystander, 0x83);
        SimFillOldApplication(bystander, OLD_FILL);
        SimSetInstalledApp(bystander, 0x00, 0x80, false);
        std::vector<uint8_t> before(bystander->flash, bystander->flash + sizeof bystander->flash);

        RunWorker(UpdateSteps(c.wait));

        EXPECT_EQ(Texts(), TEXTS_ERROR) << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{L"Error"}) << c.what;
        EXPECT_EQ(bystander->pagesErased + bystander->halvesWritten + bystander->runCommands, 0u) << c.what;
        EXPECT_EQ(std::vector<uint8_t>(bystander->flash, bystander->flash + sizeof bystander->flash), before) << c.what;
        EXPECT_EQ(Count(SimOp::Open), 1u) << c.what << ": only the switch's open";
        EXPECT_EQ(switched->modeSwitches, 1u) << c.what;
        EXPECT_EQ(switched->pagesErased, 0u) << c.what;
    }
}

// A stop request (the console program's Ctrl+C) at each point the core asks.
// Before flash writing is unlocked nothing is written, and a device that was
// switched into its bootloader with a valid application is told to run it
// again. Once it is unlocked, the run ends between two pages: no signature,
// no run command, no result box.
TEST(UpdateWorker, StopRequestEndsTheRunAtItsNextSafePoint) {
    struct Case {
        const char* what;
        Device device;
        uint32_t stopFrom;  // the stop query that answers yes
        uint32_t pagesWritten;
        uint32_t runCommands;
    };
    const Case cases[] = {
        {"already in its bootloader, at once", {SimMode::Bootloader}, 1, 0, 0},
        {"switched, at once: sent back to its application", {}, 1, 0, 1},
        {"switched, before the flash key", {}, 3, 0, 1},
        {"switched, invalid application: left in its bootloader", {.validApp = false}, 1, 0, 0},
        {"after the flash key, before page 10", {}, 4, 0, 0},
        {"after ten pages", {}, 14, 10, 0},
        {"before the signature", {}, 4 + 53, 53, 0},
    };
    for (const Case& c : cases) {
        SimDevice* d = AttachDevice(c.device);
        gStopQueries = 0;
        gStopFrom = c.stopFrom;
        gStop = StopSeam{StopFromQuery};
        UpdateWorker();
        gStop = StopSeam{[] { return false; }};

        EXPECT_EQ(d->checksumsSent, c.pagesWritten) << c.what;
        EXPECT_EQ(d->runCommands, c.runCommands) << c.what;
        EXPECT_EQ(Texts(), TEXTS_ERROR) << c.what;
        EXPECT_TRUE(BoxTexts().empty()) << c.what << ": a stop on request is no failure";
        const bool flashOpened = c.stopFrom >= 4;  // the key is sent after the third query
        EXPECT_EQ(d->pagesErased > 0, flashOpened) << c.what;
        EXPECT_EQ(SimHasValidApp(d), !flashOpened && c.device.validApp) << c.what;
    }
}

namespace {

// A device that leaves the bus during the wait between the discoveries.
SimDevice* gLeaver = nullptr;
ClockSeam gPlainClock{};
void SleepAndUnplug(uint32_t milliseconds) {
    gPlainClock.sleep(milliseconds);
    if (gLeaver) gLeaver->gone = true;
}

// The library calls of a run, one word each; a run of receive-queue polls
// is one "poll*".
std::vector<std::string> CallWords() {
    std::vector<std::string> out;
    for (const SimCall& c : gSimBus.calls) {
        std::string word;
        switch (c.op) {
            case SimOp::DeviceCount: word = "count"; break;
            case SimOp::DeviceString:
                word = (c.selector == STRING_SELECTOR_PROBE ? "probe " : "id ") + std::to_string(c.index);
                break;
            case SimOp::Open: word = "open " + std::to_string(c.index); break;
            case SimOp::Close: word = "close"; break;
            case SimOp::Read: word = "read"; break;
            case SimOp::Write: word = "write " + std::to_string(c.length); break;
            case SimOp::Setup: word = "setup"; break;
            case SimOp::QueryRxQueue: word = "poll*"; break;
        }
        if (c.status != USB_OK) word += " fails";
        if (word == "poll*" && !out.empty() && out.back() == "poll*") continue;
        out.push_back(word);
    }
    return out;
}

}  // namespace

// The first mode switch does not reach the device (its open or its write
// fails), and an unrelated device leaves the bus during the wait. Nothing
// restarted, so the fewer devices say nothing about a switched device: the
// second discovery counts, reads the string and makes a second mode switch.
// Only after a switch that was written does the lower count end the run,
// although the switched device is back in its bootloader.
TEST(UpdateWorker, FewerDevicesEndTheRunOnlyAfterASwitchThatWasWritten) {
    const std::vector<std::string> discovery = {"count", "id 0"};
    const std::vector<std::string> openStep = {"count", "id 0", "probe 0", "open 0", "setup"};
    const std::vector<std::string> switchWritten = {"write 32", "poll*", "close"};
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<std::string> secondSwitch = join({discovery, openStep, switchWritten});
    struct Case {
        const char* what;
        uint32_t failingCall;  // 0: none; 6 the open, 8 the mode-switch write
        std::vector<std::string> calls;
        std::vector<std::wstring> boxes;
        uint32_t modeSwitches;
    };
    const Case cases[] = {
        {"the open fails",
         6,
         join({discovery,
               {"count", "id 0", "probe 0", "open 0 fails", "count", "id 0", "id 1", "write 32 fails"},
               secondSwitch}),
         {L"Error"},
         1},
        {"the write fails", 8, join({discovery, openStep, {"write 32 fails", "close"}, secondSwitch}), {}, 1},
        {"the switch was written", 0, join({discovery, openStep, switchWritten, {"count"}}), {L"Error"}, 1},
    };
    for (const Case& c : cases) {
        SimDevice* device = AttachDevice({});
        gLeaver = SimAddDevice();
        SimSetAppName(gLeaver, "LX-7 sensor");
        gLeaver->mode = gLeaver->backInMode = SimMode::Application;
        if (c.failingCall) SimSetFault(SimFaultKind::FailStatus, c.failingCall);
        gPlainClock = gClock;
        gClock.sleep = SleepAndUnplug;
        UpdateWorker();
        gClock = gPlainClock;
        gLeaver = nullptr;

        EXPECT_EQ(CallWords(), c.calls) << c.what;
        EXPECT_EQ(BoxTexts(), c.boxes) << c.what;
        EXPECT_EQ(Texts(), TEXTS_ERROR) << c.what;
        EXPECT_EQ(device->modeSwitches, c.modeSwitches) << c.what;
        EXPECT_EQ(device->pagesErased, 0u) << c.what;
    }
}

namespace {

// A device that is plugged in during the wait between the discoveries.
SimDevice* gArrival = nullptr;
void SleepAndPlugIn(uint32_t milliseconds) {
    gPlainClock.sleep(milliseconds);
    if (gArrival) gArrival->present = true;
    if (gLeaver) gLeaver->gone = true;
}

}  // namespace

// Without a chosen device nothing watches the restart: the second discovery
// must count as many devices as the first, or the first bootloader it finds
// may not be the device that was switched. One more (a device plugged in
// during the wait) and one fewer (the switched device, or a neighbour, not
// back) both end the run after that count: nothing more is opened, and no
// device is erased. Only the same count with the switched device back
// programs it. A newcomer in its application with the switched device still
// away keeps the count: it is found in its application and asked to
// restart, as any application-mode device is, and nothing is programmed.
TEST(UpdateWorker, SecondDiscoveryProgramsOnlyWhenTheCountIsTheSameAndTheDeviceIsBack) {
    enum class Arrives { Nothing, BootloaderFirst, ApplicationLast };
    struct Case {
        const char* what;
        Arrives arrives;
        bool neighbourLeaves;
        bool switchedBack;  // back in its bootloader before the wait ends
        bool programmed;
    };
    const Case cases[] = {
        {"same count, back", Arrives::Nothing, false, true, true},
        {"one more (a bootloader at index 0), back", Arrives::BootloaderFirst, false, true, false},
        {"one more (an application), back", Arrives::ApplicationLast, false, true, false},
        {"one fewer (a neighbour left), back", Arrives::Nothing, true, true, false},
        {"one fewer, not back", Arrives::Nothing, false, false, false},
        {"same count (an application arrived), not back", Arrives::ApplicationLast, false, false, false},
    };
    for (const Case& c : cases) {
        InstallTestWorld(1000);
        gArrival = nullptr;
        if (c.arrives == Arrives::BootloaderFirst) gArrival = AddDevice({SimMode::Bootloader});
        SimDevice* mine = AddDevice({});
        mine->rebootDelayMs = c.switchedBack ? 10 : RESTART_WAIT_MS + 500;
        gLeaver = nullptr;
        if (c.neighbourLeaves) {
            gLeaver = AddDevice({});
            SimSetAppName(gLeaver, "LX-7 sensor");
        }
        if (c.arrives == Arrives::ApplicationLast) gArrival = AddDevice({});
        if (gArrival) gArrival->present = false;
        gPlainClock = gClock;
        gClock.sleep = SleepAndPlugIn;
        UpdateWorker();
        gClock = gPlainClock;

        const uint32_t before = c.neighbourLeaves ? 2u : 1u;
        const uint32_t after = (c.switchedBack ? 1u : 0u) + (c.arrives != Arrives::Nothing ? 1u : 0u);
        const bool countChanged = before != after;
        EXPECT_EQ(Texts(), c.programmed ? TEXTS_OK : TEXTS_ERROR) << c.what;
        EXPECT_EQ(mine->checksumsSent, c.programmed ? 53u : 0u) << c.what;
        EXPECT_EQ(SimHasValidApp(mine), true) << c.what;
        if (gArrival) {
            EXPECT_EQ(gArrival->pagesErased, 0u) << c.what;
            EXPECT_EQ(gArrival->packetsWritten, c.arrives == Arrives::ApplicationLast && !countChanged ? 1u : 0u)
                << c.what << ": only a mode switch";
        }
        if (countChanged) {
            // The calls after the mode switch's close: the count, nothing else.
            const auto words = CallWords();
            const auto close = std::find(words.begin(), words.end(), "close");
            ASSERT_NE(close, words.end()) << c.what;
            EXPECT_EQ(std::vector<std::string>(close + 1, words.end()), std::vector<std::string>{"count"}) << c.what;
            EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{L"Error"}) << c.what;
        }
        gArrival = gLeaver = nullptr;
    }
}

// A device found in its bootloader was not switched there by this run: a stop
// at any point before the flash key leaves it in its bootloader, opened and
// identified or not, with its valid application and without a run command.
TEST(UpdateWorker, StopLeavesADeviceFoundInItsBootloaderThere) {
    for (uint32_t stopFrom = 1; stopFrom <= 4; ++stopFrom) {
        SimDevice* d = AttachDevice({SimMode::Bootloader});
        gStopQueries = 0;
        gStopFrom = stopFrom;
        gStop = StopSeam{StopFromQuery};
        UpdateWorker();
        gStop = StopSeam{[] { return false; }};

        EXPECT_EQ(d->runCommands, 0u) << "stop at query " << stopFrom;
        EXPECT_EQ(d->pagesErased, 0u) << "stop at query " << stopFrom;
        EXPECT_TRUE(SimHasValidApp(d)) << "stop at query " << stopFrom;
        EXPECT_EQ(d->mode, SimMode::Bootloader) << "stop at query " << stopFrom;
    }
}
