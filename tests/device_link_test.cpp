// Discovery, bootloader entry, open, identification and close against lists
// of simulated devices.
#include "devicelink/device_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "devicelink/identifiers.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One attached device: "boot" is a bootloader device, "unreadable" fails its
// string read, anything else is an application-mode device with that name.
void Attach(const std::vector<std::string>& devices) {
    for (const auto& name : devices) {
        SimDevice* d = SimAddDevice();
        if (name == "unreadable") {
            d->idReadable = false;
        } else if (name != "boot") {
            d->mode = d->backInMode = SimMode::Application;
            SimSetAppName(d, name.c_str());
        }
    }
}

size_t CountOps(SimOp op) {
    size_t n = 0;
    for (const auto& call : gSimBus.calls) n += call.op == op;
    return n;
}

const Bytes MODE_SWITCH(MODE_SWITCH_PACKET, MODE_SWITCH_PACKET + MODE_SWITCH_PACKET_LENGTH);

// The simulated device keeps its own copy of the mode-switch packet and
// restarts into its bootloader only on that packet: the packet sent is the one
// it takes, and the device tells a packet one byte off, or one byte short, from it.
TEST(ModeSwitchPacket, IsTheOneTheSimulatedDeviceTakesAsAModeSwitch) {
    const auto switches = [](Bytes packet) {
        InstallTestWorld();
        Attach({"2021"});
        DeviceHandle h{};
        EXPECT_EQ(gUsb.open(0, &h), USB_OK);
        uint32_t written = 0;
        EXPECT_EQ(gUsb.write(h, packet.data(), static_cast<uint32_t>(packet.size()), &written, nullptr), USB_OK);
        return gSimBus.devices[0].modeSwitches;
    };
    EXPECT_EQ(switches(MODE_SWITCH), 1u);
    for (size_t i = 0; i < MODE_SWITCH.size(); ++i) {
        Bytes altered = MODE_SWITCH;
        altered[i] ^= 0x01;
        EXPECT_EQ(switches(altered), 0u) << "byte " << i << " altered";
    }
    EXPECT_EQ(switches(Bytes(MODE_SWITCH.begin(), MODE_SWITCH.end() - 1)), 0u) << "one byte short";
}

TEST(DiscoverDevice, OutcomeByDeviceList) {
    struct Case {
        std::vector<std::string> devices;
        bool result;
        uint8_t ready;
        bool switched;
        size_t boxes;
    };
    const Case cases[] = {
        {{}, false, 0, false, 1},
        {{"boot"}, true, 1, false, 0},
        {{"2021"}, true, 0, true, 0},
        {{""}, true, 0, true, 0},  // the empty name is an application-mode name
        {{"xyz", "boot"}, false, 0, false, 1},
        {{"ar5w2"}, false, 0, false, 1},
        {{"ar5w2~~"}, false, 0, false, 1},
        {{"AR5W2~"}, false, 0, false, 1},
        {{"2021 "}, false, 0, false, 1},
        {{"20210"}, false, 0, false, 1},
        {{"unreadable"}, false, 0, false, 1},
        {{"unreadable", "boot"}, true, 1, false, 0},
        {{"unreadable", "2021"}, true, 0, false, 1},  // the open step meets the unreadable device first
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        Attach(c.devices);
        UpdateJob job;
        CreateUpdateJob(job);
        std::string what = "devices:";
        for (const auto& d : c.devices) what += " '" + d + "'";
        EXPECT_EQ(DiscoverDevice(job), c.result) << what;
        EXPECT_EQ(deviceReady, c.ready) << what;
        EXPECT_EQ(FakeErrorBoxCount(), c.boxes) << what;
        const auto packets = WrittenPackets();
        EXPECT_EQ(!packets.empty() && packets[0] == MODE_SWITCH, c.switched) << what;
        EXPECT_EQ(job.handle, NO_DEVICE) << what;
        for (size_t i = 0; i < gSimBus.devices.size(); ++i) EXPECT_FALSE(gSimBus.devices[i].open) << what;
    }
}

TEST(DiscoverDevice, SwitchedDeviceComesBackInItsBootloader) {
    InstallTestWorld();
    Attach({"2021"});
    UpdateJob job;
    CreateUpdateJob(job);
    job.lastPage = 62;
    ASSERT_TRUE(DiscoverDevice(job));
    // Open, post-open set-up with (1, 1), the packet, polls, close.
    ASSERT_EQ(CountOps(SimOp::Open), 1u);
    ASSERT_EQ(CountOps(SimOp::Setup), 1u);
    EXPECT_EQ(CountOps(SimOp::Close), 1u);
    EXPECT_EQ(WrittenPackets(), std::vector<Bytes>{MODE_SWITCH});
    EXPECT_EQ(job.lastPage, CLOSED_LAST_PAGE);
    EXPECT_EQ(gSimBus.devices[0].modeSwitches, 1u);
    // The device sent nothing back: the send waited out its 100 ms.
    EXPECT_GE(CountOps(SimOp::QueryRxQueue), 50u);

    gFake.now += 2000;
    EXPECT_TRUE(DiscoverDevice(job));
    EXPECT_EQ(deviceReady, 1);
}

// The mode-switch packet is followed by a wait of 100 ms for any byte back,
// measured in virtual time from the write to the close, also when the tick
// counter wraps inside it. On the virtual clock every tick query moves time
// by 1 ms: the wait ends at the query that sees 100 ms elapsed.
TEST(DiscoverDevice, ModeSwitchWaitsHundredMillisecondsAcrossTheWrap) {
    struct Case {
        uint32_t start;
        uint32_t replyMs;  // 0: the device sends nothing back
        uint32_t waited;   // a byte back ends the wait at the poll that sees it
    };
    const Case cases[] = {
        {1000, 0, 101}, {0xFFFFFFC0u, 0, 101}, {0xFFFFFFF0u, 0, 101},   {0xFFFFFFFFu, 0, 101},
        {1000, 40, 40}, {1000, 100, 100},      {0xFFFFFFC0u, 100, 100}, {1000, 101, 101},
    };
    for (const auto& c : cases) {
        InstallTestWorld(c.start);
        Attach({"2021"});
        gSimBus.devices[0].replyToModeSwitch = c.replyMs != 0;
        gSimBus.devices[0].replyDelayMs = c.replyMs;
        UpdateJob job;
        CreateUpdateJob(job);
        ASSERT_TRUE(DiscoverDevice(job));
        const std::string what = "start " + std::to_string(c.start) + " reply " + std::to_string(c.replyMs);
        uint32_t written = 0, closed = 0;
        for (const auto& call : gSimBus.calls) {
            if (call.op == SimOp::Write) written = call.time;
            if (call.op == SimOp::Close) closed = call.time;
        }
        EXPECT_EQ(closed - written, c.waited) << what;
        EXPECT_EQ(gSimBus.devices[0].modeSwitches, 1u) << what;
    }
}

TEST(DiscoverDevice, ModeSwitchEndsAtTheFirstByteBack) {
    InstallTestWorld();
    Attach({"2021"});
    gSimBus.devices[0].replyToModeSwitch = true;
    UpdateJob job;
    CreateUpdateJob(job);
    ASSERT_TRUE(DiscoverDevice(job));
    EXPECT_EQ(CountOps(SimOp::QueryRxQueue), 1u);
    EXPECT_EQ(CountOps(SimOp::Read), 0u) << "the byte is never read";
}

TEST(DiscoverDevice, ModeSwitchFailuresKeepTheResultTrue) {
    // Calls: count 1, string 2, then the open step: count 3, string 4,
    // probe 5, open 6, set-up 7; then write 8, polls 9.., close.
    struct Case {
        const char* what;
        SimFaultKind fault;
        uint32_t call;
        size_t boxes;
    };
    const Case cases[] = {
        {"open fails: its box; the write goes to no handle and fails silently", SimFaultKind::FailStatus, 6, 1},
        {"write fails: silent", SimFaultKind::FailStatus, 8, 0},
        {"a poll fails: its box", SimFaultKind::FailStatus, 9, 1},
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        Attach({"2021"});
        SimSetFault(c.fault, c.call);
        UpdateJob job;
        CreateUpdateJob(job);
        EXPECT_TRUE(DiscoverDevice(job)) << c.what;
        EXPECT_EQ(deviceReady, 0) << c.what;
        EXPECT_EQ(job.handle, NO_DEVICE) << c.what;
        EXPECT_EQ(job.lastPage, CLOSED_LAST_PAGE) << c.what;
        EXPECT_EQ(FakeErrorBoxCount(), c.boxes) << c.what;
        EXPECT_EQ(FakeBoxes().size(), c.boxes) << c.what;
        EXPECT_FALSE(gSimBus.devices[0].open) << c.what;
    }
}

TEST(DiscoverDevice, ClosesABootloaderDeviceThatTheModeSwitchOpened) {
    InstallTestWorld();
    Attach({"2021"});
    // Enters its bootloader between discovery's read and the open step's.
    gSimBus.devices[0].bootloaderAfterReads = 1;
    UpdateJob job;
    CreateUpdateJob(job);
    EXPECT_TRUE(DiscoverDevice(job));
    EXPECT_EQ(deviceReady, 0);
    EXPECT_EQ(CountOps(SimOp::Open), 1u);
    EXPECT_EQ(CountOps(SimOp::Close), 1u);
    EXPECT_EQ(job.handle, NO_DEVICE);
    EXPECT_FALSE(gSimBus.devices[0].open);
    EXPECT_TRUE(WrittenPackets().size() == 1 && WrittenPackets()[0] == Bytes{0x00}) << "identified, not switched";
}

TEST(CloseDevice, WithoutADeviceMakesNoCall) {
    InstallTestWorld();
    UpdateJob job;
    CreateUpdateJob(job);
    job.lastPage = 124;
    CloseDevice(job);
    EXPECT_TRUE(gSimBus.calls.empty());
    EXPECT_EQ(FakeErrorBoxCount(), 0u);
    EXPECT_EQ(job.lastPage, CLOSED_LAST_PAGE);
}

TEST(CloseDevice, FailedCloseShowsABoxAndForgetsTheHandle) {
    InstallTestWorld();
    Attach({"boot"});
    UpdateJob job;
    CreateUpdateJob(job);
    OpenDevice(job);
    ASSERT_NE(job.handle, NO_DEVICE);
    SimSetFault(SimFaultKind::FailStatus, gSimBus.callCount + 1);
    CloseDevice(job);
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
    EXPECT_EQ(job.handle, NO_DEVICE);
}

TEST(OpenDevice, OutcomeByDeviceList) {
    struct Case {
        std::vector<std::string> devices;
        bool open;
        uint8_t appMode;
        size_t boxes;
        bool identified;
        uint8_t lastPage;  // 99 before the step
    };
    const Case cases[] = {
        {{"boot"}, true, 0, 0, true, 62},
        {{"2021"}, true, 1, 0, false, 99},
        {{""}, true, 1, 0, false, 99},
        {{"zz~", "boot"}, true, 0, 0, true, 62},    // another "~" name is passed over silently
        {{"foo", "boot"}, false, 0, 0, false, 99},  // an unknown name first ends the step silently
        {{}, false, 0, 1, false, CLOSED_LAST_PAGE},
        {{"zz~"}, false, 0, 1, false, CLOSED_LAST_PAGE},
        {{"unreadable", "boot"}, false, 0, 1, false, 99},  // its box, then ends as for an unknown name
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        Attach(c.devices);
        UpdateJob job;
        CreateUpdateJob(job);
        job.lastPage = 99;
        std::string what = "devices:";
        for (const auto& d : c.devices) what += " '" + d + "'";
        OpenDevice(job);
        EXPECT_EQ(job.handle != NO_DEVICE, c.open) << what;
        EXPECT_EQ(appModeMatched, c.appMode) << what;
        EXPECT_EQ(FakeErrorBoxCount(), c.boxes) << what;
        EXPECT_STREQ(job.targetSerial, "ar5w2~");
        const bool infoSent = !WrittenPackets().empty() && WrittenPackets()[0] == Bytes{0x00};
        EXPECT_EQ(infoSent, c.identified) << what;
        EXPECT_EQ(job.lastPage, c.lastPage) << what;
        EXPECT_EQ(CountOps(SimOp::Close), 0u) << what << ": nothing was opened that must be closed";
    }
}

TEST(OpenDevice, OpensWithProbeAndSetUp) {
    InstallTestWorld();
    Attach({"boot"});
    UpdateJob job;
    CreateUpdateJob(job);
    OpenDevice(job);
    const std::vector<SimOp> ops = CalledOps();
    ASSERT_GE(ops.size(), 6u);
    const std::vector<SimOp> head(ops.begin(), ops.begin() + 6);
    EXPECT_EQ(head, (std::vector<SimOp>{SimOp::DeviceCount, SimOp::DeviceString, SimOp::DeviceString, SimOp::Open,
                                        SimOp::Setup, SimOp::Write}));
    EXPECT_EQ(gSimBus.calls[2].selector, STRING_SELECTOR_PROBE);
    EXPECT_EQ(gSimBus.calls[4].value, 1u);
    EXPECT_EQ(gSimBus.calls[4].value2, 1u);
    EXPECT_EQ(gSimBus.calls[4].handle, job.handle);
}

TEST(OpenDevice, FailuresCloseWhatWasOpenedAndRescan) {
    // Calls: count 1, string 2, probe 3, open 4, set-up 5, info write 6.
    struct Case {
        const char* what;
        uint8_t deviceType;
        SimFaultKind fault;
        uint32_t call;
        size_t boxes;
        size_t closes;
    };
    const Case cases[] = {
        {"count fails", 0x83, SimFaultKind::FailStatus, 1, 2, 0},
        {"probe string fails", 0x83, SimFaultKind::FailStatus, 3, 1, 0},
        {"open fails", 0x83, SimFaultKind::FailStatus, 4, 1, 0},
        {"set-up fails", 0x83, SimFaultKind::FailStatus, 5, 1, 1},
        {"info write fails", 0x83, SimFaultKind::FailStatus, 6, 3, 1},
        {"info never comes", 0x83, SimFaultKind::MissingReply, 6, 2, 1},
        {"device type 0x80", 0x80, SimFaultKind::None, 0, 2, 1},
        {"device type 0x87", 0x87, SimFaultKind::None, 0, 2, 1},
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        Attach({"boot"});
        SimSetDeviceType(&gSimBus.devices[0], c.deviceType);
        SimSetFault(c.fault, c.call);
        UpdateJob job;
        CreateUpdateJob(job);
        job.lastPage = 62;
        OpenDevice(job);
        EXPECT_EQ(job.handle, NO_DEVICE) << c.what;
        EXPECT_EQ(job.lastPage, CLOSED_LAST_PAGE) << c.what;
        EXPECT_EQ(FakeErrorBoxCount(), c.boxes) << c.what;
        EXPECT_EQ(CountOps(SimOp::Close), c.closes) << c.what;
        EXPECT_FALSE(gSimBus.devices[0].open) << c.what;
        EXPECT_EQ(job.deviceCount, 1u) << c.what << ": the rescan counted the devices";
        EXPECT_EQ(gSimBus.calls.back().op, SimOp::DeviceString) << c.what << ": the rescan read the string";
    }
}

TEST(IdentifyDevice, LastPageByDeviceType) {
    const std::pair<uint8_t, uint8_t> table[] = {{0x81, 29},  {0x82, 29}, {0x83, 62},
                                                 {0x84, 124}, {0x85, 62}, {0x86, 124}};
    for (const auto& [type, lastPage] : table) {
        InstallTestWorld();
        Attach({"boot"});
        SimSetDeviceType(&gSimBus.devices[0], type);
        UpdateJob job;
        CreateUpdateJob(job);
        OpenDevice(job);
        EXPECT_EQ(job.lastPage, lastPage) << std::hex << int{type};
        EXPECT_EQ(FakeErrorBoxCount(), 0u);
    }
}

TEST(IdentifyDevice, WithoutADeviceSendsNothing) {
    InstallTestWorld();
    Attach({"boot"});
    UpdateJob job;
    CreateUpdateJob(job);
    job.lastPage = 62;
    EXPECT_FALSE(IdentifyDevice(job));
    EXPECT_TRUE(gSimBus.calls.empty());
    EXPECT_EQ(FakeErrorBoxCount(), 0u);
    EXPECT_EQ(job.lastPage, 62);
}

TEST(RescanDevices, ShowsABoxPerUnreadableString) {
    InstallTestWorld();
    Attach({"unreadable", "boot", "unreadable"});
    UpdateJob job;
    CreateUpdateJob(job);
    RescanDevices(job);
    EXPECT_EQ(job.deviceCount, 3u);
    EXPECT_EQ(FakeErrorBoxCount(), 2u);
}

// Library rows carry the library's calling convention (stdcall on x86),
// which a lambda cannot have.
uint32_t gAbsurdStringCalls;
UsbStatus USB_CALL AbsurdDeviceCount(uint32_t* count) {
    *count = 0xFFFFFFFFu;
    return USB_OK;
}
UsbStatus USB_CALL FailingDeviceString(uint32_t, void*, uint32_t) {
    ++gAbsurdStringCalls;
    return 1;
}

TEST(Discovery, AnAbsurdDeviceCountDoesNotStallTheSearch) {
    InstallTestWorld();
    uint32_t& calls = gAbsurdStringCalls;
    calls = 0;
    gUsb.getDeviceCount = AbsurdDeviceCount;
    gUsb.getDeviceString = FailingDeviceString;
    UpdateJob job;
    CreateUpdateJob(job);
    EXPECT_FALSE(DiscoverDevice(job));
    EXPECT_LE(calls, MAX_DEVICES_SEARCHED);
}

}  // namespace
