// The simulated device against the protocol it stands in for: replies,
// flash rules, mode changes, latency and each kind of injected fault.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

DeviceHandle OpenFirst() {
    DeviceHandle handle = NO_DEVICE;
    EXPECT_EQ(gUsb.open(0, &handle), USB_OK);
    return handle;
}

// Writes a packet, lets `waitMs` pass and reads whatever is waiting.
Bytes Send(DeviceHandle handle, Bytes packet, uint32_t waitMs = 0) {
    uint32_t n = 0;
    EXPECT_EQ(gUsb.write(handle, packet.data(), static_cast<uint32_t>(packet.size()), &n, nullptr), USB_OK);
    gFake.now += waitMs;
    uint32_t waiting = 0, status = 0;
    EXPECT_EQ(gUsb.queryRxQueue(handle, &waiting, &status), USB_OK);
    Bytes reply(waiting);
    if (waiting) {
        EXPECT_EQ(gUsb.read(handle, reply.data(), waiting, &n, nullptr), USB_OK);
    }
    return reply;
}

Bytes HalfPacket(uint8_t half, uint8_t fill) {
    Bytes p(258, fill);
    p[0] = 0x03;
    p[1] = half;
    return p;
}

TEST(SimCrc, KnownValues) {
    uint8_t page[512];
    std::memset(page, 0xFF, sizeof page);
    EXPECT_EQ(SimCrc16(page, sizeof page), 0x85FE);
    std::memset(page, 0x00, sizeof page);
    EXPECT_EQ(SimCrc16(page, sizeof page), 0x0000);
    EXPECT_EQ(SimCrc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x2189);
}

TEST(SimDevice, ProgramsAPageAndReportsItsChecksumHighByteFirst) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    const DeviceHandle h = OpenFirst();
    EXPECT_EQ(Send(h, {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND}), Bytes{0x00});
    EXPECT_EQ(Send(h, {0x01, 10}), Bytes{0x00});
    EXPECT_EQ(Send(h, {0x02}), Bytes{0x00});
    EXPECT_EQ(Send(h, HalfPacket(0, 0x00)), (Bytes{0x00, 0x00}));
    const Bytes last = Send(h, HalfPacket(1, 0x00));
    ASSERT_EQ(last.size(), 4u);
    EXPECT_EQ(last[0], 0x00);
    EXPECT_EQ(last[1], 0x00);
    EXPECT_EQ(last[2] << 8 | last[3], 0x0000) << "512 zero bytes";
    for (size_t i = 0; i < 512; ++i) ASSERT_EQ(d->flash[10 * 512 + i], 0x00);
    EXPECT_EQ(d->flash[11 * 512], 0xFF);
}

TEST(SimDevice, RefusesEraseAndWriteWithoutKeyOrOutsideTheApplicationArea) {
    struct Case {
        const char* what;
        Bytes key;
        uint8_t page;
    };
    const Case cases[] = {
        {"no key", {}, 10},
        {"wrong key", {0x06, 0x12, 0x34}, 10},
        {"cleared key", {0x06, 0x00, 0x00}, 10},
        {"page 9", {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND}, 9},
        {"above the last page of type 0x83", {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND}, 63},
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        SimDevice* d = SimAddDevice();
        std::memset(d->flash, 0x5A, sizeof d->flash);
        const DeviceHandle h = OpenFirst();
        if (!c.key.empty()) Send(h, c.key);
        EXPECT_EQ(Send(h, {0x01, c.page}), Bytes{0x00}) << c.what;
        EXPECT_EQ(Send(h, {0x02}), Bytes{0x01}) << c.what;
        EXPECT_EQ(Send(h, HalfPacket(0, 0x00)), (Bytes{0x01, 0x01})) << c.what;
        EXPECT_EQ(d->flash[c.page * 512], 0x5A) << c.what;
    }
}

TEST(SimDevice, InfoCarriesVersionSignatureAndTypeAndTheSignatureNeedsTheKey) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    SimSetDeviceType(d, 0x81);
    SimSetInstalledApp(d, 0x02, 0x05, false);
    const DeviceHandle h = OpenFirst();
    Bytes info = Send(h, {0x00});
    ASSERT_EQ(info.size(), 9u);
    EXPECT_EQ(Bytes(info.begin() + 4, info.end()), (Bytes{0x02, 0x05, 0xFF, 0xFF, 0x81}));
    EXPECT_EQ(Send(h, {0x07, 0xC2, 0x3D}), Bytes{0x01}) << "without the key";
    Send(h, {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND});
    EXPECT_EQ(Send(h, {0x07, 0x3D, 0xC2}), Bytes{0x01}) << "high byte first is not the signature";
    EXPECT_EQ(Send(h, {0x07, 0xC2, 0x3D}), Bytes{0x00});
    info = Send(h, {0x00});
    EXPECT_EQ(info[6], 0x3D);
    EXPECT_EQ(info[7], 0xC2);
    EXPECT_EQ(29 * 512 + 0x1FE, 0x3BFE) << "kept in the last two bytes of the last page";
    EXPECT_EQ(d->flash[0x3BFE], 0x3D);
}

TEST(SimDevice, ModeSwitchAndRunRestartTheDeviceOnceItIsClosed) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = SimMode::Application;
    d->rebootDelayMs = 300;
    DeviceHandle h = OpenFirst();
    Send(h, Bytes(32, 0x00));  // not the mode-switch packet
    EXPECT_EQ(d->modeSwitches, 0u);
    const uint8_t packet[32] = {0x00, 0x16, 0xA8, 0x00, 0x00, 0x15, 'B', 'o', 'o', 't', 'l',
                                'o',  'a',  'd',  ' ',  'e',  'n',  'a', 'b', 'l', 'e', 'd'};
    EXPECT_TRUE(Send(h, Bytes(packet, packet + 32)).empty()) << "nothing comes back";
    EXPECT_EQ(gUsb.close(h), USB_OK);
    uint32_t count = 9;
    EXPECT_EQ(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_EQ(count, 0u) << "off the bus while it restarts";
    gFake.now += 300;
    EXPECT_EQ(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(d->mode, SimMode::Bootloader);

    // A run without a valid signature leaves it in its bootloader...
    h = OpenFirst();
    Send(h, {0x05});
    EXPECT_EQ(gUsb.close(h), USB_OK);
    EXPECT_EQ(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_EQ(count, 1u);
    // ...a run with one starts the application.
    SimSetInstalledApp(d, 1, 0, true);
    h = OpenFirst();
    Send(h, {0x05});
    EXPECT_EQ(gUsb.close(h), USB_OK);
    gFake.now += 300;
    EXPECT_EQ(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_EQ(d->mode, SimMode::Application);
}

TEST(SimDevice, RepliesBecomeReadableAfterTheirLatency) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    d->replyDelayMs = 5;
    d->eraseDelayMs = 20;
    const DeviceHandle h = OpenFirst();
    EXPECT_TRUE(Send(h, {0x01, 10}, 4).empty());
    gFake.now += 1;
    uint32_t waiting = 0, status = 0;
    EXPECT_EQ(gUsb.queryRxQueue(h, &waiting, &status), USB_OK);
    EXPECT_EQ(waiting, 1u);
}

TEST(SimDevice, HandlesDoNotFitInThirtyTwoBitsInA64BitProcess) {
    InstallTestWorld();
    SimAddDevice();
    const DeviceHandle h = OpenFirst();
    if (sizeof(DeviceHandle) > 4) {
        EXPECT_NE(static_cast<DeviceHandle>(static_cast<int32_t>(h)), h);
    }
    EXPECT_NE(gUsb.close(static_cast<DeviceHandle>(static_cast<uint32_t>(h) ^ 1u)), USB_OK);
}

// Each fault on the select command written by call 2 (the open is call 1).
TEST(SimDevice, EachFaultKind) {
    struct Case {
        SimFaultKind kind;
        UsbStatus writeStatus;
        Bytes reply;  // readable just after the window
        Bytes later;  // readable SIM_LATE_REPLY_MS later
    };
    const Case cases[] = {
        {SimFaultKind::FailStatus, 1, {}, {}},         {SimFaultKind::MissingReply, USB_OK, {}, {}},
        {SimFaultKind::LateReply, USB_OK, {}, {0x00}}, {SimFaultKind::PartialReply, USB_OK, {}, {}},
        {SimFaultKind::BadAck, USB_OK, {0x01}, {}},    {SimFaultKind::Vanish, 1, {}, {}},
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        SimAddDevice();
        const DeviceHandle h = OpenFirst();
        SimSetFault(c.kind, 2);
        uint8_t packet[2] = {0x01, 10};
        uint32_t n = 0, waiting = 0, status = 0;
        EXPECT_EQ(gUsb.write(h, packet, 2, &n, nullptr), c.writeStatus) << SimFaultName(c.kind);
        gFake.now += 100;
        const UsbStatus query = gUsb.queryRxQueue(h, &waiting, &status);
        if (c.kind == SimFaultKind::Vanish) {
            EXPECT_NE(query, USB_OK);
            uint32_t count = 0;
            EXPECT_NE(gUsb.getDeviceCount(&count), USB_OK) << "every later call fails";
            continue;
        }
        ASSERT_EQ(query, USB_OK);
        Bytes got(waiting);
        if (waiting) gUsb.read(h, got.data(), waiting, &n, nullptr);
        EXPECT_EQ(got, c.reply) << SimFaultName(c.kind);
        gFake.now += SIM_LATE_REPLY_MS;
        gUsb.queryRxQueue(h, &waiting, &status);
        Bytes later(waiting);
        if (waiting) gUsb.read(h, later.data(), waiting, &n, nullptr);
        EXPECT_EQ(later, c.later) << SimFaultName(c.kind);
    }
}

// A device's own fault counts the packets written to it alone and acts on it
// alone; the bus holds any number of devices, each with its own handle.
TEST(SimDevice, ADevicesOwnFaultActsOnItAlone) {
    struct Case {
        SimFaultKind kind;
        UsbStatus writeStatus;
        UsbStatus readStatus;
        Bytes reply;
    };
    const Case cases[] = {
        {SimFaultKind::BadAck, USB_OK, USB_OK, {0x01}},
        {SimFaultKind::MissingReply, USB_OK, USB_OK, {}},
        {SimFaultKind::FailStatus, 1, USB_OK, {}},
        {SimFaultKind::FailRead, USB_OK, 1, {}},
    };
    for (const Case& c : cases) {
        InstallTestWorld();
        for (int i = 0; i < 20; ++i) SimAddDevice();
        SimDevice& faulty = gSimBus.devices[17];
        faulty.faultKind = c.kind;
        faulty.faultPacket = 2;
        DeviceHandle first = NO_DEVICE, other = NO_DEVICE;
        ASSERT_EQ(gUsb.open(0, &first), USB_OK);
        ASSERT_EQ(gUsb.open(17, &other), USB_OK);
        ASSERT_NE(first, other);
        const std::string what = SimFaultName(c.kind);
        // Packets 1 and 2 on the bus go to the first device: untouched.
        EXPECT_EQ(Send(first, {0x01, 10}), Bytes{0x00}) << what;
        EXPECT_EQ(Send(first, {0x01, 11}), Bytes{0x00}) << what;
        EXPECT_EQ(Send(other, {0x01, 10}), Bytes{0x00}) << what;
        // The second packet to device 17 meets its fault.
        uint8_t packet[2] = {0x01, 11};
        uint32_t n = 0, waiting = 0, status = 0;
        EXPECT_EQ(gUsb.write(other, packet, 2, &n, nullptr), c.writeStatus) << what;
        ASSERT_EQ(gUsb.queryRxQueue(other, &waiting, &status), USB_OK) << what;
        Bytes got(waiting ? waiting : 1);
        EXPECT_EQ(gUsb.read(other, got.data(), static_cast<uint32_t>(got.size()), &n, nullptr), c.readStatus) << what;
        got.resize(c.readStatus == USB_OK ? n : 0);
        EXPECT_EQ(got, c.reply) << what;
        EXPECT_EQ(Send(first, {0x01, 12}), Bytes{0x00}) << what << ": the first device after the fault";
    }
}

// Whether a fault acted is known: a fault placed on a packet it cannot
// change (a flipped bit or a wrong checksum on a packet that carries none)
// is not counted as having acted, so that a test of it cannot silently test
// nothing. Packets: 1 key, 2 select, 3 erase, 4 and 5 the two halves.
TEST(SimDevice, AFaultKnowsWhetherItActed) {
    struct Case {
        SimFaultKind kind;
        uint32_t packet;
        bool onDevice;  // the device's own fault, else the bus's
        bool acted;
    };
    const Case cases[] = {
        {SimFaultKind::FlippedBit, 2, false, false},   {SimFaultKind::FlippedBit, 4, false, true},
        {SimFaultKind::FlippedBit, 5, true, true},     {SimFaultKind::WrongChecksum, 4, false, false},
        {SimFaultKind::WrongChecksum, 5, true, true},  {SimFaultKind::BadAck, 3, false, true},
        {SimFaultKind::MissingReply, 2, true, true},   {SimFaultKind::ShortRead, 4, false, true},
        {SimFaultKind::FailStatus, 1, true, true},     {SimFaultKind::Vanish, 3, false, true},
        {SimFaultKind::MissingReply, 9, false, false},  // past the last packet
    };
    for (const Case& c : cases) {
        InstallTestWorld();
        SimDevice* d = SimAddDevice();
        if (c.onDevice) {
            d->faultKind = c.kind;
            d->faultPacket = c.packet;
        } else {
            SimSetFault(c.kind, c.packet);
            gSimBus.faultCountsWrites = true;
        }
        const DeviceHandle h = OpenFirst();
        uint32_t n = 0, waiting = 0, status = 0;
        Bytes packets[] = {{0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND},
                           {0x01, 10},
                           {0x02},
                           HalfPacket(0, 0x00),
                           HalfPacket(1, 0x00)};
        for (Bytes& p : packets) {
            gUsb.write(h, p.data(), static_cast<uint32_t>(p.size()), &n, nullptr);
            gFake.now += 100;
            if (gUsb.queryRxQueue(h, &waiting, &status) == USB_OK && waiting) {
                Bytes reply(waiting);
                gUsb.read(h, reply.data(), waiting, &n, nullptr);
            }
        }
        const uint32_t acts = c.onDevice ? d->faultActs : gSimBus.faultActs;
        EXPECT_EQ(acts > 0, c.acted) << SimFaultName(c.kind) << " at packet " << c.packet;
    }
}

TEST(SimDevice, WrongChecksumAndPartialChecksumFaults) {
    for (SimFaultKind kind : {SimFaultKind::WrongChecksum, SimFaultKind::PartialReply, SimFaultKind::BadAck}) {
        InstallTestWorld();
        SimAddDevice();
        const DeviceHandle h = OpenFirst();
        Send(h, {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND});
        Send(h, {0x01, 10});
        Send(h, {0x02});
        Send(h, HalfPacket(0, 0x00));
        SimSetFault(kind, gSimBus.callCount + 1);
        const Bytes reply = Send(h, HalfPacket(1, 0x00));
        const Bytes expected = kind == SimFaultKind::WrongChecksum  ? Bytes{0x00, 0x00, 0x00, 0x01}
                               : kind == SimFaultKind::PartialReply ? Bytes{0x00, 0x00, 0x00}
                                                                    : Bytes{0x01, 0x00, 0x00, 0x00};
        EXPECT_EQ(reply, expected) << SimFaultName(kind);
    }
}

// FailCount's N counts the device-count calls alone, whether the bus counts
// calls or packets for its other faults; the rest of the bus goes on.
TEST(SimDevice, FailCountFailsTheNthDeviceCountAlone) {
    for (const bool countsPackets : {false, true}) {
        InstallTestWorld();
        SimAddDevice();
        SimAddDevice();
        SimSetFault(SimFaultKind::FailCount, 2);
        gSimBus.faultCountsWrites = countsPackets;
        const DeviceHandle h = OpenFirst();
        EXPECT_EQ(Send(h, {0x01, 10}), Bytes{0x00}) << "packet 1, call 2: not a count";
        std::vector<bool> counted;
        std::vector<uint32_t> counts;
        for (int i = 0; i < 3; ++i) {
            uint32_t count = 99;
            counted.push_back(gUsb.getDeviceCount(&count) == USB_OK);
            counts.push_back(count);
        }
        const std::string what = countsPackets ? "counting packets" : "counting calls";
        EXPECT_EQ(counted, (std::vector<bool>{true, false, true})) << what;
        EXPECT_EQ(counts, (std::vector<uint32_t>{2, 99, 2})) << what << ": the failed call counts nothing";
        EXPECT_EQ(gSimBus.faultActs, 1u) << what;
        EXPECT_EQ(Send(h, {0x01, 11}), Bytes{0x00}) << what << ": the device still answers";
    }
}

TEST(SimDevice, ShortReadReportsSuccessDeliversNothingAndLosesTheBytes) {
    InstallTestWorld();
    SimAddDevice();
    const DeviceHandle h = OpenFirst();
    uint8_t packet[1] = {0x00};
    uint32_t n = 0, waiting = 0, status = 0;
    ASSERT_EQ(gUsb.write(h, packet, 1, &n, nullptr), USB_OK);  // call 2
    ASSERT_EQ(gUsb.queryRxQueue(h, &waiting, &status), USB_OK);
    ASSERT_EQ(waiting, 9u);
    SimSetFault(SimFaultKind::ShortRead, gSimBus.callCount + 1);
    uint8_t reply[9];
    std::memset(reply, 0xAB, sizeof reply);
    uint32_t read = 77;
    EXPECT_EQ(gUsb.read(h, reply, 9, &read, nullptr), USB_OK);
    EXPECT_EQ(read, 0u);
    for (uint8_t b : reply) EXPECT_EQ(b, 0xAB) << "nothing delivered";
    ASSERT_EQ(gUsb.queryRxQueue(h, &waiting, &status), USB_OK);
    EXPECT_EQ(waiting, 0u) << "the bytes are lost, not left in the queue";
}

TEST(SimDevice, FlippedBitIsStoredAndTheChecksumIsThatOfWhatWasStored) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    const DeviceHandle h = OpenFirst();
    Send(h, {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND});
    Send(h, {0x01, 10});
    Send(h, {0x02});
    SimSetFault(SimFaultKind::FlippedBit, gSimBus.callCount + 1);
    EXPECT_EQ(Send(h, HalfPacket(0, 0x00)), (Bytes{0x00, 0x00}));
    const Bytes last = Send(h, HalfPacket(1, 0x00));
    EXPECT_EQ(d->flash[10 * 512], 0x01) << "one bit of the first half flipped";
    for (size_t i = 1; i < 512; ++i) ASSERT_EQ(d->flash[10 * 512 + i], 0x00) << i;
    ASSERT_EQ(last.size(), 4u);
    EXPECT_EQ(last[2] << 8 | last[3], SimCrc16(d->flash + 10 * 512, 512));
    EXPECT_NE(last[2] << 8 | last[3], 0x0000) << "not the checksum of the page that was sent";
}

TEST(SimDevice, DroppedSecondHalfIsAcknowledgedButNotStored) {
    InstallTestWorld();
    SimDevice* d = SimAddDevice();
    d->dropsSecondHalfOfPage = 10;
    const DeviceHandle h = OpenFirst();
    Send(h, {0x06, SIM_FLASH_KEY_FIRST, SIM_FLASH_KEY_SECOND});
    Send(h, {0x01, 10});
    Send(h, {0x02});
    Send(h, HalfPacket(0, 0x00));
    const Bytes last = Send(h, HalfPacket(1, 0x00));
    ASSERT_EQ(last.size(), 4u);
    EXPECT_EQ(last[0], 0x00);
    EXPECT_EQ(d->flash[10 * 512 + 255], 0x00);
    EXPECT_EQ(d->flash[10 * 512 + 256], 0xFF);
    EXPECT_EQ(last[2] << 8 | last[3], SimCrc16(d->flash + 10 * 512, 512)) << "an honest checksum";
}

// The library's rules: every output pointer is given, and the last
// argument of read and write is 0. A call that breaks them fails without
// effect and is reported.
std::vector<std::string> gViolations;
void NoteViolation(const char* what) { gViolations.emplace_back(what); }

TEST(SimDevice, CallsThatBreakTheLibrarysRulesAreViolations) {
    int overlapped = 0;
    struct Case {
        const char* what;
        std::function<UsbStatus(DeviceHandle)> call;
    };
    const std::vector<Case> cases = {
        {"count", [](DeviceHandle) { return gUsb.getDeviceCount(nullptr); }},
        {"string", [](DeviceHandle) { return gUsb.getDeviceString(0, nullptr, 0); }},
        {"open", [](DeviceHandle) { return gUsb.open(0, nullptr); }},
        {"read without count",
         [](DeviceHandle h) {
             uint8_t b[1];
             return gUsb.read(h, b, 1, nullptr, nullptr);
         }},
        {"read overlapped",
         [&overlapped](DeviceHandle h) {
             uint8_t b[1];
             uint32_t n = 0;
             return gUsb.read(h, b, 1, &n, &overlapped);
         }},
        {"write without count",
         [](DeviceHandle h) {
             uint8_t p[1] = {0x00};
             return gUsb.write(h, p, 1, nullptr, nullptr);
         }},
        {"write overlapped",
         [&overlapped](DeviceHandle h) {
             uint8_t p[1] = {0x00};
             uint32_t n = 0;
             return gUsb.write(h, p, 1, &n, &overlapped);
         }},
        {"query without queue status",
         [](DeviceHandle h) {
             uint32_t waiting = 0;
             return gUsb.queryRxQueue(h, &waiting, nullptr);
         }},
        {"query without count",
         [](DeviceHandle h) {
             uint32_t status = 0;
             return gUsb.queryRxQueue(h, nullptr, &status);
         }},
    };
    for (const auto& c : cases) {
        InstallTestWorld();
        gSimBus.violation = NoteViolation;
        gViolations.clear();
        SimDevice* d = SimAddDevice();
        const DeviceHandle h = OpenFirst();
        uint8_t info[1] = {0x00};
        uint32_t n = 0;
        ASSERT_EQ(gUsb.write(h, info, 1, &n, nullptr), USB_OK);  // a reply that a read could take
        const size_t queued = d->queueLength;
        ASSERT_EQ(queued, 9u);
        EXPECT_NE(c.call(h), USB_OK) << c.what;
        EXPECT_EQ(gSimBus.violations, 1u) << c.what;
        EXPECT_EQ(gViolations.size(), 1u) << c.what;
        EXPECT_EQ(d->queueLength, queued) << c.what << ": no effect";
    }
}

TEST(SimDevice, CallsPastTheLimitFailAndAreReported) {
    InstallTestWorld();
    gSimBus.violation = NoteViolation;
    gViolations.clear();
    gSimBus.callLimit = 3;
    SimAddDevice();
    uint32_t count = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_NE(gUsb.getDeviceCount(&count), USB_OK);
    EXPECT_EQ(gViolations.size(), 1u);
}

TEST(SimDevice, RecordsEveryCallWithItsArguments) {
    InstallTestWorld();
    SimAddDevice();
    const DeviceHandle h = OpenFirst();
    Send(h, {0x01, 12});
    ASSERT_EQ(gSimBus.calls.size(), 4u);
    EXPECT_EQ(CalledOps(), (std::vector<SimOp>{SimOp::Open, SimOp::Write, SimOp::QueryRxQueue, SimOp::Read}));
    EXPECT_EQ(gSimBus.calls[1].bytes, (Bytes{0x01, 12}));
    EXPECT_EQ(gSimBus.calls[1].handle, h);
    EXPECT_EQ(gSimBus.calls[3].bytes, Bytes{0x00});
}

}  // namespace
