// The bootloader command exchange against the simulated device: packet
// bytes, reply decoding, reply windows, and which failures show a box.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "bootloader/commands.h"
#include "bootloader/exchange.h"
#include "flashing/flashing.h"
#include "tests/test_support.h"
#include "usb/usb_access.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Bench {
    UpdateJob job;
    SimDevice* device;
};

// A bootloader device of type 0x83, opened by the library's call 1.
Bench& OpenBootloader(uint32_t startTick = 1000) {
    static Bench bench;
    InstallTestWorld(startTick);
    bench.device = SimAddDevice();
    CreateUpdateJob(bench.job);
    DeviceHandle handle = NO_DEVICE;
    EXPECT_EQ(LockedOpen(0, &handle), USB_OK);
    bench.job.handle = handle;
    bench.device->keyAccepted = true;
    return bench;
}

size_t CountOps(SimOp op) {
    size_t n = 0;
    for (const auto& call : gSimBus.calls) n += call.op == op;
    return n;
}

TEST(Bootloader, CommandsSendExactlyTheirPackets) {
    struct Case {
        const char* name;
        std::function<bool(UpdateJob&)> run;
        std::vector<Bytes> packets;
    };
    const std::vector<Case> cases = {
        {"get info", [](UpdateJob& j) { return ReadDeviceInfo(j); }, {{0x00}}},
        {"select page", [](UpdateJob& j) { return SelectPage(j, 0x2A); }, {{0x01, 0x2A}}},
        {"erase page", [](UpdateJob& j) { return ErasePage(j, 12); }, {{0x01, 12}, {0x02}}},
        {"flash key", [](UpdateJob& j) { return SetFlashKey(j, 0xA5, 0xF1); }, {{0x06, 0xA5, 0xF1}}},
        {"clear key", [](UpdateJob& j) { return SetFlashKey(j, 0x00, 0x00); }, {{0x06, 0x00, 0x00}}},
        {"signature", [](UpdateJob& j) { return WriteSignature(j); }, {{0x07, 0xC2, 0x3D}}},
        {"run",
         [](UpdateJob& j) {
             RunApplication(j);
             return true;
         },
         {{0x05}}},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader();
        EXPECT_TRUE(c.run(b.job)) << c.name;
        EXPECT_EQ(WrittenPackets(), c.packets) << c.name;
        EXPECT_EQ(FakeErrorBoxCount(), 0u) << c.name;
    }
}

TEST(Bootloader, InfoReplyIsDecodedHighByteFirst) {
    Bench& b = OpenBootloader();
    SimSetDeviceType(b.device, 0x84);
    SimSetInstalledApp(b.device, 0x01, 0x02, true);
    ASSERT_TRUE(ReadDeviceInfo(b.job));
    EXPECT_EQ(b.job.info.appVerHi, 0x01);
    EXPECT_EQ(b.job.info.appVerLo, 0x02);
    EXPECT_EQ(b.job.info.signature, 0x3DC2u);
    EXPECT_EQ(b.job.info.deviceType, 0x84);
}

TEST(Bootloader, ProgramPageRunsSelectEraseTwoHalvesAndChecksumInOrder) {
    Bench& b = OpenBootloader();
    static uint8_t image[IMAGE_SIZE];
    for (size_t i = 0; i < IMAGE_SIZE; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    // Choose the last two bytes so that the page's checksum is 0x1234: the
    // device sends 0x12 then 0x34.
    uint8_t* page = image + 20 * PAGE_SIZE;
    for (unsigned v = 0; v < 0x10000; ++v) {
        page[510] = static_cast<uint8_t>(v >> 8);
        page[511] = static_cast<uint8_t>(v);
        if (SimCrc16(page, PAGE_SIZE) == 0x1234) break;
    }
    uint32_t checksum = 0;
    ASSERT_TRUE(ProgramPage(b.job, image, 20, checksum));
    EXPECT_EQ(checksum, 0x1234u);
    EXPECT_EQ(0, std::memcmp(b.device->flash + 20 * PAGE_SIZE, page, PAGE_SIZE));

    const auto packets = WrittenPackets();
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[0], (Bytes{0x01, 20}));
    EXPECT_EQ(packets[1], (Bytes{0x02}));
    for (uint8_t half = 0; half < 2; ++half) {
        const Bytes& p = packets[2u + half];
        ASSERT_EQ(p.size(), 258u);
        EXPECT_EQ(p[0], 0x03);
        EXPECT_EQ(p[1], half);
        EXPECT_EQ(0, std::memcmp(p.data() + 2, page + half * 256, 256));
    }
    // Writes and reads without the polls between them: select, its reply,
    // erase, its reply, half 0, two acknowledgements, half 1, two
    // acknowledgements, the 2-byte checksum.
    std::vector<std::pair<SimOp, uint32_t>> exchange;
    for (const auto& call : gSimBus.calls)
        if (call.op == SimOp::Write || call.op == SimOp::Read) exchange.emplace_back(call.op, call.length);
    const std::vector<std::pair<SimOp, uint32_t>> expected = {{SimOp::Write, 2}, {SimOp::Read, 1},    {SimOp::Write, 1},
                                                              {SimOp::Read, 1},  {SimOp::Write, 258}, {SimOp::Read, 1},
                                                              {SimOp::Read, 1},  {SimOp::Write, 258}, {SimOp::Read, 1},
                                                              {SimOp::Read, 1},  {SimOp::Read, 2}};
    EXPECT_EQ(exchange, expected);
}

// On the virtual clock every tick query moves time by 1 ms. The poll made
// when the window has closed (100 ms elapsed) is the last look and sees the
// device 101 ms after the write: a reply queued by then is taken, a later one
// is a failure, also when the tick counter wraps inside the window.
TEST(Bootloader, ReplyWindowIsHundredMillisecondsAcrossTheWrap) {
    struct Case {
        uint32_t start;
        uint32_t delay;
        bool taken;
    };
    const Case cases[] = {
        {1000, 0, true},           {1000, 99, true},         {1000, 101, true},
        {1000, 102, false},        {1000, 400, false},       {0xFFFFFFC0u, 101, true},
        {0xFFFFFFC0u, 102, false}, {0xFFFFFFFFu, 101, true}, {0xFFFFFFFFu, 102, false},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader(c.start);
        b.device->replyDelayMs = c.delay;
        EXPECT_EQ(SelectPage(b.job, 10), c.taken) << "start " << c.start << " delay " << c.delay;
        EXPECT_EQ(CountOps(SimOp::Read), c.taken ? 1u : 0u);
        EXPECT_GE(gFake.now - c.start, c.taken ? c.delay : 100u) << "start " << c.start;
        EXPECT_LE(gFake.now - c.start, 103u) << "the wait ends with its window";
    }
}

// The PC is paused (the worker off the processor) for 500 ms between two
// polls of a reply. The device answered within its window, so the reply is
// waiting when the worker runs again: the one look taken after the window
// has closed counts it. What comes later than that look, or a query that
// fails then, still ends the wait at once.
TEST(Bootloader, PauseOfThePcDoesNotFailAReplyThatWasWaiting) {
    struct Case {
        const char* what;
        uint32_t delay;       // when the device queues its reply
        uint32_t failedCall;  // a library call that fails (0: none)
        bool taken;
        size_t queries;  // polls of the receive queue in all
    };
    // Open is call 1, the write call 2, the first poll call 3, the poll
    // after the pause call 4.
    const Case cases[] = {
        {"reply within the window", 30, 0, true, 2},
        {"reply queued after the last look", 600, 0, false, 2},
        {"last look fails", 30, 4, false, 2},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader();
        b.device->replyDelayMs = c.delay;
        if (c.failedCall) SimSetFault(SimFaultKind::FailStatus, c.failedCall);
        // The wait's start and its first check are tick queries 1 and 2;
        // the pause falls before the check that follows the first poll.
        gFake.pauseAtQuery = gFake.tickQueries + 3;
        gFake.pauseMs = 500;
        EXPECT_EQ(SelectPage(b.job, 10), c.taken) << c.what;
        EXPECT_EQ(CountOps(SimOp::QueryRxQueue), c.queries) << c.what << ": one look after the window, no more";
        EXPECT_EQ(CountOps(SimOp::Read), c.taken ? 1u : 0u) << c.what;
    }
}

// A PC so slow that every reply window has closed before its first poll
// (each tick query finds 150 ms gone): every wait of every command still
// takes its one last look, and each command completes with one poll per
// reply it waits for.
TEST(Bootloader, EveryWaitTakesItsLastLook) {
    struct Case {
        const char* name;
        std::function<bool(UpdateJob&)> run;
        size_t polls;
    };
    const std::vector<Case> cases = {
        {"get info", [](UpdateJob& j) { return ReadDeviceInfo(j); }, 1},
        {"select page", [](UpdateJob& j) { return SelectPage(j, 0x2A); }, 1},
        {"erase page", [](UpdateJob& j) { return ErasePage(j, 12); }, 2},
        {"flash key", [](UpdateJob& j) { return SetFlashKey(j, 0xA5, 0xF1); }, 1},
        {"signature", [](UpdateJob& j) { return WriteSignature(j); }, 1},
        {"program page",
         [](UpdateJob& j) {
             std::memset(j.ImageBuffer, 0x5A, sizeof j.ImageBuffer);
             uint32_t checksum = 0;
             return ProgramPage(j, j.ImageBuffer, 12, checksum) && checksum == PageCrc(j, 12);
         },
         7},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader();
        b.device->replyDelayMs = 20;
        gFake.stepPerQuery = 150;
        EXPECT_TRUE(c.run(b.job)) << c.name;
        EXPECT_EQ(CountOps(SimOp::QueryRxQueue), c.polls) << c.name;
    }
}

// Which failure shows a box, and what each operation returns. The device
// is opened by call 1; the command's write is call 2, its first poll call 3
// and, with an immediate reply, its read call 4.
TEST(Bootloader, FailuresGiveFalseAndBoxesOnlyWhereReadDeviceInfoShowsThem) {
    struct Case {
        const char* op;
        SimFaultKind fault;
        uint32_t call;
        size_t boxes;
    };
    const Case cases[] = {
        {"info", SimFaultKind::FailStatus, 2, 1},    // write
        {"info", SimFaultKind::FailStatus, 3, 0},    // query
        {"info", SimFaultKind::MissingReply, 2, 0},  // no reply within the window
        {"info", SimFaultKind::PartialReply, 2, 0},  // 8 of 9 bytes
        {"info", SimFaultKind::FailStatus, 4, 1},    // read
        {"select", SimFaultKind::FailStatus, 2, 0},
        {"select", SimFaultKind::FailStatus, 3, 0},
        {"select", SimFaultKind::MissingReply, 2, 0},
        {"select", SimFaultKind::LateReply, 2, 0},
        {"select", SimFaultKind::FailStatus, 4, 0},
        {"select", SimFaultKind::BadAck, 2, 0},
        {"erase", SimFaultKind::BadAck, 5, 0},
        {"erase", SimFaultKind::MissingReply, 5, 0},
        {"key", SimFaultKind::MissingReply, 2, 0},
        {"key", SimFaultKind::BadAck, 2, 0},
        {"signature", SimFaultKind::BadAck, 2, 0},
        {"signature", SimFaultKind::LateReply, 2, 0},
        // A read that reports success but delivers nothing is a failed read.
        {"info", SimFaultKind::ShortRead, 4, 1},
        {"select", SimFaultKind::ShortRead, 4, 0},
        {"erase", SimFaultKind::ShortRead, 7, 0},
        {"key", SimFaultKind::ShortRead, 4, 0},
        {"signature", SimFaultKind::ShortRead, 4, 0},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader();
        SimSetFault(c.fault, c.call);
        const std::string op = c.op;
        b.job.info = DeviceInfo{9, 9, 0x1111, 0x99};
        bool result = true;
        if (op == "info") result = ReadDeviceInfo(b.job);
        if (op == "select") result = SelectPage(b.job, 10);
        if (op == "erase") result = ErasePage(b.job, 10);
        if (op == "key") result = SetFlashKey(b.job, 0xA5, 0xF1);
        if (op == "signature") result = WriteSignature(b.job);
        const std::string what = op + " " + SimFaultName(c.fault) + " at call " + std::to_string(c.call);
        EXPECT_FALSE(result) << what;
        EXPECT_EQ(FakeErrorBoxCount(), c.boxes) << what;
        EXPECT_EQ(b.job.info.signature, 0x1111u) << what << ": info is written only from a whole reply";
        for (const auto& box : gFake.events) EXPECT_EQ(box.lockDepth, 0) << "no box under the lock";
    }
}

TEST(Bootloader, QueryFailureStopsTheInfoWaitAtOnceButNotOtherWaits) {
    Bench& b = OpenBootloader();
    b.device->replyDelayMs = 50;
    SimSetFault(SimFaultKind::FailStatus, 3);
    EXPECT_FALSE(ReadDeviceInfo(b.job));
    EXPECT_EQ(CountOps(SimOp::QueryRxQueue), 1u);

    Bench& again = OpenBootloader();
    again.device->replyDelayMs = 50;
    SimSetFault(SimFaultKind::FailStatus, 3);
    EXPECT_FALSE(SelectPage(again.job, 10));
    EXPECT_GT(CountOps(SimOp::QueryRxQueue), 1u) << "polling goes on after a failed query";
    EXPECT_EQ(CountOps(SimOp::Read), 0u) << "nothing is read after a failed query";
}

// A reply window that never closes (here: a clock that stands still) must
// fail the test within a second rather than spin until ctest's timeout.
TEST(Bootloader, WaitThatNeverEndsIsStoppedWithinASecond) {
    Bench& b = OpenBootloader();
    gFake.stepPerQuery = 0;
    SimSetFault(SimFaultKind::MissingReply, 2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(SelectPage(b.job, 10), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Bootloader, NoDeviceOpen) {
    InstallTestWorld();
    SimAddDevice();
    UpdateJob job;
    CreateUpdateJob(job);
    uint32_t checksum = 7;
    EXPECT_FALSE(ReadDeviceInfo(job));
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
    EXPECT_FALSE(SelectPage(job, 10));
    EXPECT_FALSE(ErasePage(job, 10));
    EXPECT_FALSE(ProgramPage(job, job.ImageBuffer, 10, checksum));
    EXPECT_FALSE(WriteSignature(job));
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
    RunApplication(job);
    EXPECT_EQ(FakeErrorBoxCount(), 2u);
    EXPECT_TRUE(gSimBus.calls.empty()) << "nothing is sent without a device";
    EXPECT_EQ(checksum, 7u);
}

TEST(Bootloader, RunApplicationWhoseWriteFailsShowsOneBox) {
    Bench& b = OpenBootloader();
    SimSetFault(SimFaultKind::FailStatus, 2);
    RunApplication(b.job);
    EXPECT_EQ(FakeErrorBoxCount(), 1u);
}

TEST(Bootloader, ProgramPageFailuresInsideTheHalves) {
    // Calls after the open (1): select 2..4, erase 5..7, half 0 write 8,
    // poll 9, ack 10, poll 11, ack 12, half 1 write 13, ...
    struct Case {
        const char* what;
        SimFaultKind fault;
        uint32_t call;
        bool halfOneSent;
    };
    const Case cases[] = {
        {"first ack of half 0 is 0x01", SimFaultKind::BadAck, 8, false},
        {"poll for the first ack of half 0 fails", SimFaultKind::FailStatus, 9, true},
        {"half 0 is never acknowledged", SimFaultKind::MissingReply, 8, true},
        {"read of the first ack fails", SimFaultKind::FailStatus, 10, false},
        {"half 0 write fails", SimFaultKind::FailStatus, 8, false},
        {"checksum comes late", SimFaultKind::LateReply, 13, true},
        {"checksum short by a byte", SimFaultKind::PartialReply, 13, true},
        // Half 1: poll 14, ack 15, poll 16, ack 17, poll 18, checksum 19.
        {"first ack of half 0 read short", SimFaultKind::ShortRead, 10, false},
        {"second ack of half 1 read short", SimFaultKind::ShortRead, 17, true},
        {"checksum read short", SimFaultKind::ShortRead, 19, true},
    };
    for (const auto& c : cases) {
        Bench& b = OpenBootloader();
        SimSetFault(c.fault, c.call);
        uint32_t checksum = 0;
        EXPECT_FALSE(ProgramPage(b.job, b.job.ImageBuffer, 10, checksum)) << c.what;
        if (c.fault == SimFaultKind::ShortRead) {
            ASSERT_GE(gSimBus.calls.size(), c.call) << c.what;
            EXPECT_EQ(gSimBus.calls[c.call - 1].op, SimOp::Read) << c.what << ": the fault hit a read";
        }
        size_t halves = 0;
        for (const auto& p : WrittenPackets()) halves += p.size() == 258;
        EXPECT_EQ(halves, c.halfOneSent ? 2u : 1u) << c.what;
        EXPECT_EQ(FakeErrorBoxCount(), 0u) << c.what;
    }
}

}  // namespace
