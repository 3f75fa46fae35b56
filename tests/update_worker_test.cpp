// The whole update, start to end, against the simulated device on the
// virtual clock: the device's flash afterwards, the texts, the boxes.
#include <gtest/gtest.h>

#include "platform/seams.h"
#include "tests/test_support.h"
#include "job/update_job.h"
#include "worker/update_worker.h"

namespace {

constexpr uint8_t OLD_FILL = 0x11;

struct Device {
    SimMode mode = SimMode::Application;
    uint8_t type = 0x83;
    uint8_t verHi = 0x00, verLo = 0x90;
};

SimDevice* AttachDevice(const Device& spec, uint32_t startTick = 1000) {
    InstallTestWorld(startTick);
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = spec.mode;
    SimSetDeviceType(d, spec.type);
    SimFillOldApplication(d, OLD_FILL);
    SimSetInstalledApp(d, spec.verHi, spec.verLo, true);
    return d;
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
        {"older image, answered yes", {SimMode::Application, 0x83, 0x01, 0x01}, {ANSWER_YES}, true, TEXTS_OK,
         {L"Error|Error", L"OK| "}},
        {"older image, answered no", {SimMode::Application, 0x83, 0x02, 0x00}, {ANSWER_NO}, false, TEXTS_OK,
         {L"Error|Error"}},
        {"device of type 0x81", {SimMode::Bootloader, 0x81}, {}, false, TEXTS_ERROR, {L"Error| "}},
        {"device of type 0x84", {SimMode::Application, 0x84}, {}, false, TEXTS_ERROR, {L"Error| "}},
        {"device of type 0x85 (same last page)", {SimMode::Application, 0x85}, {}, false, TEXTS_ERROR,
         {L"Error| "}},
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

TEST(WorkerSlot, OnlyOneWorkerAtATime) {
    ASSERT_TRUE(ClaimWorkerSlot());
    EXPECT_FALSE(ClaimWorkerSlot()) << "a second command during a run is ignored";
    ReleaseWorkerSlot();
    EXPECT_TRUE(ClaimWorkerSlot());
    ReleaseWorkerSlot();
}

}  // namespace
