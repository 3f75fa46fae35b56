// The core's events: what it reports at each step of an update, of the
// pre-flight check, of the polled restart wait and of the device list,
// against the simulated device on the virtual clock; and that reporting
// changes nothing the device sees.
#include "events/update_events.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "job/update_job.h"
#include "platform/seams.h"
#include "tests/test_support.h"
#include "worker/update_worker.h"

namespace {

constexpr uint8_t OLD_FILL = 0x11;

// Every event as one short line, in order.
std::vector<std::string> gLog;
std::vector<std::string> gOutputLines;

void Log(const std::string& line) { gLog.push_back(line); }
std::string N(uint32_t value) { return std::to_string(value); }

// A switch without a default: a new verdict is a compile error (-Wswitch)
// until it is named here, never a read past a table.
const char* VerdictName(CheckVerdict v) {
    switch (v) {
        case CheckVerdict::Program: return "program";
        case CheckVerdict::AskUnversioned: return "ask unversioned";
        case CheckVerdict::AskOlder: return "ask older";
        case CheckVerdict::Refuse: return "refuse";
        case CheckVerdict::Current: return "current";
    }
    return "out of range";
}

std::string Line(const DeviceFound& e) {
    const char* kinds[] = {"application", "bootloader", "unknown", "unreadable"};
    return "found " + N(e.index) + " " + kinds[static_cast<int>(e.kind)] + " '" +
           (e.id ? std::string(reinterpret_cast<const char*>(e.id), e.length) : std::string("-")) + "'";
}
std::string Line(const RestartRequested&) { return "restart requested"; }
std::string Line(const RestartAwaited& e) {
    const char* ends[] = {"waited", "seen", "timed out", "bus changed"};
    return std::string("restart ") + ends[static_cast<int>(e.end)] + " " + N(e.waitedMs);
}
std::string Line(const DeviceIdentified& e) {
    return "identified " + N(e.deviceType) + " " + N(e.verHi) + "." + N(e.verLo) + " " + N(e.signature);
}
std::string Line(const ImagePrepared& e) {
    return std::string("image ") + (e.loaded ? "loaded" : "not loaded") + (e.accepted ? " accepted " : " refused ") +
           N(e.imageType) + " " + N(e.verHi) + "." + N(e.verLo) + " " + N(e.pages);
}
std::string Line(const QuestionAsked& e) { return "asked " + N(static_cast<uint32_t>(e.question)); }
std::string Line(const QuestionAnswered& e) {
    return "answered " + N(static_cast<uint32_t>(e.question)) + (e.yes ? " yes" : " no");
}
std::string Line(const ProgrammingStarted& e) { return "programming " + N(e.pages); }
std::string Line(const PageProgrammed& e) {
    return "page " + N(e.page) + " " + N(e.index) + "/" + N(e.total) + (e.written ? " written" : " not written") +
           (e.verified ? " verified" : " not verified");
}
std::string Line(const SignatureWritten& e) {
    return std::string("signature written ") + (e.acknowledged ? "yes" : "no");
}
std::string Line(const SignatureConfirmed& e) {
    return std::string("signature confirmed ") + (e.valid ? "yes " : "no ") + N(e.signature);
}
std::string Line(const RunSent& e) { return std::string("run sent ") + (e.written ? "yes" : "no"); }
std::string Line(const CheckFinished& e) { return std::string("verdict ") + VerdictName(e.verdict); }
std::string Line(const Finished& e) { return std::string("finished ") + (e.deviceReady ? "ready" : "not ready"); }
std::string Line(const SwitchedDeviceMissing& e) { return "switched device missing " + N(e.before) + " " + N(e.now); }
std::string Line(const RunStopped& e) {
    return std::string("stopped ") + (e.flashOpen ? "flash open" : "before writing");
}
std::string Line(const ExchangeFailed& e) {
    const ExchangeFailure& f = e.failure;
    const char* causes[] = {"write-failed", "no-reply", "short-read", "read-failed", "bad-reply", "checksum", "gone"};
    return "failed " + N(static_cast<uint32_t>(f.command)) + " page " +
           (f.page == NO_PAGE ? std::string("-") : N(f.page)) + " #" + N(f.pageIndex) + " " +
           causes[static_cast<int>(f.fault)] + " " + N(f.detail) + " " + N(f.expected);
}
std::string Line(const BusChanged& e) {
    const char* changes[] = {"arrival", "departure", "second-bootloader", "early-bootloader"};
    return std::string("bus ") + (e.phase == BusWatchPhase::Update ? "update " : "restart ") +
           changes[static_cast<int>(e.change)] + " " + N(e.devicesBefore) + " " + N(e.devicesNow);
}
std::string Line(const BootloaderWaiting& e) { return "waiting " + N(e.index); }
std::string Line(const AlreadyCurrent&) { return "already current"; }
std::string Line(const DeviceCountFailed&) { return "device count failed"; }

// The events these tests follow, each as its line; an event they do not
// name leaves no line.
template <typename Event>
std::string Line(const Event&) {
    return {};
}

void Record(const UpdateEvent& event) {
    std::visit(
        [](const auto& e) {
            const std::string line = Line(e);
            if (!line.empty()) Log(line);
        },
        event);
}

void RecordLine(const char* line) { gOutputLines.push_back(line); }

class UpdateEventsTest : public ::testing::Test {
   protected:
    void SetUp() override {
        gLog.clear();
        gOutputLines.clear();
        savedOutput = gOutput;
        gEvents = Record;
        gOutput = OutputSeam{RecordLine};
    }
    void TearDown() override {
        gEvents = IgnoreUpdateEvent;
        gOutput = savedOutput;
    }

    SimDevice* Attach(SimMode mode, uint8_t type, uint8_t hi, uint8_t lo, bool valid = true) {
        InstallTestWorld();
        SimDevice* d = SimAddDevice();
        d->mode = d->backInMode = mode;
        SimSetDeviceType(d, type);
        SimFillOldApplication(d, OLD_FILL);
        SimSetInstalledApp(d, hi, lo, valid);
        return d;
    }

    // The events with the page lines left out.
    static std::vector<std::string> WithoutPages() {
        std::vector<std::string> out;
        for (const auto& line : gLog)
            if (line.rfind("page ", 0) != 0) out.push_back(line);
        return out;
    }

    OutputSeam savedOutput{};
};

// The signature 0x3DC2 as the events carry it.
const std::string SIG = N(APP_SIGNATURE);

TEST_F(UpdateEventsTest, UpdateReportsEveryStepInOrder) {
    (void)DemoImage();  // loaded once per process, before the record starts
    gOutputLines.clear();
    SimDevice* d = Attach(SimMode::Application, 0x83, 0, 90);
    EXPECT_EQ(UpdateWorker(), 0u);
    EXPECT_EQ(WithoutPages(),
              (std::vector<std::string>{"found 0 application '2021'", "restart requested", "restart waited 2000",
                                        "found 0 bootloader 'ar5w2~'", "identified 131 0.90 " + SIG,
                                        "image loaded accepted 131 1.0 53", "programming 53", "signature written yes",
                                        "signature confirmed yes " + SIG, "run sent yes", "finished ready"}));
    // One page event for each page the image carries, in order, each proved.
    std::vector<std::string> pages;
    for (const auto& line : gLog)
        if (line.rfind("page ", 0) == 0) pages.push_back(line);
    std::vector<std::string> expected;
    uint32_t index = 0;
    for (uint32_t page = 10; page <= 62; ++page)
        if (DemoImage().PageMap[page])
            expected.push_back("page " + N(page) + " " + N(++index) + "/53 written verified");
    EXPECT_EQ(pages, expected);
    EXPECT_TRUE(DeviceHoldsImage(d, DemoImage(), OLD_FILL));
    EXPECT_EQ(gOutputLines, std::vector<std::string>{"Working  "}) << "the loader's line goes to gOutput";
}

TEST_F(UpdateEventsTest, OutcomesByScenario) {
    struct Case {
        const char* what;
        SimMode mode;
        uint8_t type, hi, lo;
        std::vector<int> answers;
        std::vector<std::string> tail;  // the events from the image step on, pages left out
    };
    const Case cases[] = {
        {"older image, No",
         SimMode::Bootloader,
         0x83,
         2,
         0,
         {ANSWER_NO},
         {"image loaded accepted 131 1.0 53", "asked 2", "answered 2 no", "run sent yes", "finished ready"}},
        {"older image, Yes",
         SimMode::Bootloader,
         0x83,
         2,
         0,
         {ANSWER_YES},
         {"image loaded accepted 131 1.0 53", "asked 2", "answered 2 yes", "programming 53", "signature written yes",
          "signature confirmed yes " + SIG, "run sent yes", "finished ready"}},
        {"device of another type",
         SimMode::Bootloader,
         0x84,
         0,
         90,
         {},
         {"image loaded refused 131 1.0 53", "finished not ready"}},
    };
    for (const Case& c : cases) {
        gLog.clear();
        SimDevice* d = Attach(c.mode, c.type, c.hi, c.lo);
        gFake.answers = c.answers;
        UpdateWorker();
        auto events = WithoutPages();
        auto from =
            std::find_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("image", 0) == 0; });
        EXPECT_EQ(std::vector<std::string>(from, events.end()), c.tail) << c.what;
        (void)d;
    }
}

TEST_F(UpdateEventsTest, ProgrammingFaultReportsThePageThatFailed) {
    SimDevice* d = Attach(SimMode::Bootloader, 0x83, 0, 90);
    // Counted in packets: info, flash key, select and erase of page 62, then
    // four a page (select, erase, two halves), the checksum coming with the
    // second half. The third page's checksum is packet 16.
    SimSetFault(SimFaultKind::WrongChecksum, 2 + 2 + 4 * 3);
    gSimBus.faultCountsWrites = true;
    UpdateWorker();
    ASSERT_GE(gLog.size(), 3u);
    const auto pageAt = std::find(gLog.begin(), gLog.end(), "page 12 3/53 written not verified");
    ASSERT_NE(pageAt, gLog.end()) << "the third page is reported written but not verified; last: " << gLog.back();
    EXPECT_EQ(std::vector<std::string>(pageAt + 1, gLog.end()), std::vector<std::string>{"finished not ready"})
        << "no signature and no run command after a page that failed";
    EXPECT_FALSE(SimHasValidApp(d));
}

TEST_F(UpdateEventsTest, ReportingChangesNothingTheDeviceSees) {
    Attach(SimMode::Application, 0x83, 0, 90);
    UpdateWorker();
    const auto recorded = WrittenPackets();
    const auto boxes = FakeBoxes().size();
    gEvents = IgnoreUpdateEvent;
    Attach(SimMode::Application, 0x83, 0, 90);
    UpdateWorker();
    EXPECT_EQ(WrittenPackets(), recorded);
    EXPECT_EQ(FakeBoxes().size(), boxes);
}

// The pre-flight check: what it reports, and that the device's flash and
// the packets it was sent show nothing written.
TEST_F(UpdateEventsTest, CheckWritesNothingAndSaysWhatAnUpdateWouldDo) {
    struct Case {
        const char* what;
        uint8_t type, hi, lo;
        bool valid;
        const char* verdict;
        bool runSent;
    };
    const Case cases[] = {
        {"newer image", 0x83, 0, 90, true, "verdict program", true},
        {"older image", 0x83, 2, 0, true, "verdict ask older", true},
        {"device of another type", 0x84, 0, 90, true, "verdict refuse", true},
        {"another type, no valid application", 0x84, 0, 90, false, "verdict refuse", false},
        {"no valid application", 0x83, 0, 90, false, "verdict program", true},
        {"the image's own version", 0x83, 1, 0, true, "verdict current", true},
    };
    for (const Case& c : cases) {
        gLog.clear();
        SimDevice* d = Attach(SimMode::Application, c.type, c.hi, c.lo, c.valid);
        std::vector<uint8_t> before(d->flash, d->flash + SIM_FLASH_SIZE);
        RunWorker(CheckSteps(FIXED_RESTART_WAIT));
        EXPECT_EQ(std::count(gLog.begin(), gLog.end(), c.verdict), 1) << c.what;
        EXPECT_TRUE(std::memcmp(d->flash, before.data(), SIM_FLASH_SIZE) == 0) << c.what << ": flash changed";
        for (const auto& packet : WrittenPackets()) {
            ASSERT_FALSE(packet.empty());
            const uint8_t command = packet[0];
            const bool writes = packet.size() < 32 && (command == CMD_SET_FLASH_KEY || command == CMD_ERASE_PAGE ||
                                                       command == CMD_WRITE_SIGNATURE || command == CMD_SET_PAGE);
            EXPECT_FALSE(writes || packet.size() == WRITE_HALF_PACKET_LENGTH)
                << c.what << ": packet 0x" << std::hex << int{command};
        }
        EXPECT_EQ(d->runCommands, c.runSent ? 1u : 0u) << c.what;
        EXPECT_TRUE(FakeBoxes().size() <= 1) << c.what << ": no question, at most the refusal's box";
        EXPECT_EQ(SimHasValidApp(d), c.valid) << c.what;
    }
}

TEST_F(UpdateEventsTest, PolledRestartWaitGoesOnWhenTheBootloaderAppears) {
    struct Case {
        const char* what;
        uint32_t restartMs;
        const char* awaited;
        bool updated;
    };
    const Case cases[] = {
        {"restarts in 300 ms", 300, "restart seen ", true},
        {"never comes back", 0x7FFFFFFF, "restart timed out ", false},
    };
    for (const Case& c : cases) {
        gLog.clear();
        SimDevice* d = Attach(SimMode::Application, 0x83, 0, 90);
        d->rebootDelayMs = c.restartMs;
        RunWorker(UpdateSteps(RestartWait{RESTART_POLL_LIMIT_MS, true, false}));
        const auto awaited = std::find_if(gLog.begin(), gLog.end(), [](const std::string& e) {
            return e.rfind("restart ", 0) == 0 && e != "restart requested";
        });
        ASSERT_NE(awaited, gLog.end()) << c.what;
        ASSERT_EQ(awaited->rfind(c.awaited, 0), 0u) << c.what << ": " << *awaited;
        const uint32_t waited = static_cast<uint32_t>(std::stoul(awaited->substr(std::strlen(c.awaited))));
        if (c.updated) {
            EXPECT_GE(waited, 300u) << c.what;
            // The bus is looked at every millisecond; the test clock also
            // moves 1 ms on each of the poll's two tick queries.
            EXPECT_LE(waited, 300u + 1 + 2) << c.what << ": goes on within a poll of the return";
        } else {
            EXPECT_GE(waited, RESTART_POLL_LIMIT_MS) << c.what;
            EXPECT_LE(waited, RESTART_POLL_LIMIT_MS + RESTART_POLL_MS + 2) << c.what;
        }
        EXPECT_EQ(SimHasValidApp(d) && d->checksumsSent > 0, c.updated) << c.what;
        EXPECT_EQ(
            std::count_if(gLog.begin(), gLog.end(), [](const std::string& e) { return e.rfind("found", 0) == 0; }),
            c.updated ? 2 : 1)
            << c.what << ": the polls report no device";
        // The polls show no box: the only boxes are the update's own.
        EXPECT_EQ(FakeErrorBoxCount(), c.updated ? 0u : 1u) << c.what;
    }
}

// While the restarted device is off the bus, a second device that already
// runs its bootloader is the first one on it. The polled wait must not take
// it for the restarted one: the device that was told to restart is the one
// updated and started; the other one is not touched.
TEST_F(UpdateEventsTest, PolledRestartWaitWaitsForTheRestartedDeviceNotAnother) {
    SimDevice* restarted = Attach(SimMode::Application, 0x83, 0, 90);
    restarted->rebootDelayMs = 300;
    SimDevice* other = SimAddDevice();  // in its bootloader from the start
    SimSetDeviceType(other, 0x83);
    SimFillOldApplication(other, OLD_FILL);
    SimSetInstalledApp(other, 0, 80, false);
    uint8_t otherFlash[sizeof other->flash];
    std::memcpy(otherFlash, other->flash, sizeof otherFlash);

    RunWorker(UpdateSteps(RestartWait{RESTART_POLL_LIMIT_MS, true, false}));

    EXPECT_TRUE(SimHasValidApp(restarted));
    EXPECT_EQ(restarted->checksumsSent, 53u);
    EXPECT_EQ(restarted->runCommands, 1u);
    EXPECT_EQ(other->halvesWritten, 0u);
    EXPECT_EQ(other->pagesErased, 0u);
    EXPECT_EQ(other->runCommands, 0u);
    EXPECT_EQ(std::memcmp(other->flash, otherFlash, sizeof otherFlash), 0);
    const auto awaited =
        std::find_if(gLog.begin(), gLog.end(), [](const std::string& e) { return e.rfind("restart seen ", 0) == 0; });
    ASSERT_NE(awaited, gLog.end());
    EXPECT_GE(std::stoul(awaited->substr(std::strlen("restart seen "))), 300u) << "went on before the restart";
}

TEST_F(UpdateEventsTest, ListReportsEveryDeviceAndOpensNone) {
    InstallTestWorld();
    SimDevice* app = SimAddDevice();
    app->mode = SimMode::Application;
    SimAddDevice();  // bootloader
    SimDevice* other = SimAddDevice();
    other->mode = SimMode::Application;
    SimSetAppName(other, "scale");
    SimDevice* mute = SimAddDevice();
    mute->idReadable = false;
    gUsbLock.initialise();
    EXPECT_TRUE(ListDevices());
    gUsbLock.remove();
    EXPECT_EQ(gLog, (std::vector<std::string>{"found 0 application '2021'", "found 1 bootloader 'ar5w2~'",
                                              "found 2 unknown 'scale'", "found 3 unreadable '-'"}));
    for (const auto& call : gSimBus.calls) {
        EXPECT_TRUE(call.op == SimOp::DeviceCount || call.op == SimOp::DeviceString) << "only counts and strings";
    }
    EXPECT_EQ(app->modeSwitches, 0u);
}

}  // namespace

namespace {

std::vector<std::string> Matching(const char* prefix) {
    std::vector<std::string> out;
    for (const auto& line : gLog)
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

}  // namespace

// Each failed exchange names its command, page, place among the pages and
// cause. Packets: info, flash key, select and erase of page 62, then select,
// erase and two halves a page.
TEST_F(UpdateEventsTest, FailedExchangesNameCommandPageAndCause) {
    struct Case {
        SimFaultKind fault;
        uint32_t packet;
        const char* failure;
    };
    const Case cases[] = {
        {SimFaultKind::LateReply, 6, "failed 2 page 10 #1 no-reply 100 0"},
        {SimFaultKind::BadAck, 2, "failed 5 page - #0 bad-reply 1 0"},
        {SimFaultKind::MissingReply, 1, "failed 0 page - #0 no-reply 100 0"},
        {SimFaultKind::FailStatus, 4, "failed 2 page 62 #0 write-failed 0 0"},
        {SimFaultKind::Vanish, 11, "failed 3 page 11 #2 write-failed 0 0"},  // the cause is the front end's to name
        {SimFaultKind::ShortRead, 5, "failed 1 page 10 #1 short-read 0 0"},
        {SimFaultKind::FailRead, 5, "failed 1 page 10 #1 read-failed 0 0"},
    };
    for (const Case& c : cases) {
        gLog.clear();
        Attach(SimMode::Bootloader, 0x83, 0, 90);
        SimSetFault(c.fault, c.packet);
        gSimBus.faultCountsWrites = true;
        UpdateWorker();
        const auto failures = Matching("failed ");
        ASSERT_FALSE(failures.empty()) << static_cast<int>(c.fault);
        EXPECT_EQ(failures.front(), c.failure) << static_cast<int>(c.fault);
    }
    // A checksum that differs names the one read and the image's.
    gLog.clear();
    SimDevice* d = Attach(SimMode::Bootloader, 0x83, 0, 90);
    SimSetFault(SimFaultKind::WrongChecksum, 12);
    gSimBus.faultCountsWrites = true;
    UpdateWorker();
    const auto failures = Matching("failed ");
    ASSERT_EQ(failures.size(), 1u);
    const uint16_t stored = SimCrc16(d->flash + 11 * SIM_PAGE_SIZE, SIM_PAGE_SIZE);
    // The sim sends its checksum off by one; the image's is what it stored.
    const std::string line = failures.front();
    const std::string prefix = "failed 4 page 11 #2 checksum ";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), N(stored)) << line;
    EXPECT_NE(line.substr(prefix.size(), line.rfind(' ') - prefix.size()), N(stored)) << line;
}

// The read-back, not the write's acknowledgement, confirms the signature.
TEST_F(UpdateEventsTest, SignatureConfirmedOnlyByTheReadBack) {
    SimDevice* d = Attach(SimMode::Bootloader, 0x83, 0, 90);
    d->dropsSignature = true;
    UpdateWorker();
    EXPECT_EQ(Matching("signature"),
              (std::vector<std::string>{"signature written yes", "signature confirmed no 65535"}));
}

TEST_F(UpdateEventsTest, NoDeviceStillEndsWithFinished) {
    InstallTestWorld();
    UpdateWorker();
    EXPECT_EQ(gLog, std::vector<std::string>{"finished not ready"});
}

TEST_F(UpdateEventsTest, CheckAsksAboutAnUnversionedImageAsSuch) {
    Attach(SimMode::Bootloader, 0x83, 2, 0);
    WorkerSteps steps = CheckSteps(FIXED_RESTART_WAIT);
    static ImageStep checkImage;
    checkImage = steps.prepareImage;
    steps.prepareImage = [](UpdateJob& job) {
        checkImage(job);
        job.imageVerHi = job.imageVerLo = 0xFF;
    };
    RunWorker(steps);
    EXPECT_EQ(Matching("verdict"), std::vector<std::string>{"verdict ask unversioned"});
}

// With a chosen device, the restart is watched: a bootloader that turns up
// before the chosen device has left makes the restarted one unprovable,
// and nothing is written to either.
TEST_F(UpdateEventsTest, ChosenDeviceStopsWhenTheRestartedOneCannotBeTold) {
    SimDevice* chosen = Attach(SimMode::Application, 0x83, 0, 90);
    SimDevice* other = SimAddDevice();
    other->mode = other->backInMode = SimMode::Application;
    SimSetDeviceType(other, 0x83);
    SimSetInstalledApp(other, 0, 90, true);
    // Read once at the first discovery, then in its bootloader of its own
    // accord while the chosen device restarts.
    other->bootloaderAfterReads = 1;
    WorkerSteps steps = UpdateSteps(FIXED_RESTART_WAIT);
    steps.device = 0;
    RunWorker(steps);
    EXPECT_EQ(Matching("bus"), std::vector<std::string>{"bus restart early-bootloader 2 2"});
    EXPECT_EQ(chosen->pagesErased + other->pagesErased + chosen->halvesWritten + other->halvesWritten, 0u);
    EXPECT_EQ(Matching("programming"), std::vector<std::string>{});

    // Without the stray one, device 1 chosen: only it is updated.
    gLog.clear();
    SimDevice* first = Attach(SimMode::Application, 0x83, 0, 90);
    SimDevice* second = SimAddDevice();
    second->mode = second->backInMode = SimMode::Application;
    SimSetDeviceType(second, 0x83);
    SimSetInstalledApp(second, 0, 90, true);
    steps.device = 1;
    RunWorker(steps);
    EXPECT_EQ(first->modeSwitches + first->pagesErased, 0u);
    EXPECT_EQ(second->checksumsSent, 53u);
    EXPECT_TRUE(SimHasValidApp(second));
    EXPECT_EQ(Matching("found"),
              (std::vector<std::string>{"found 1 application '2021'", "found 1 bootloader 'ar5w2~'"}));
}

// A device plugged in while a chosen device restarts (it is off the bus
// from about 100 ms to 600 ms after the start), with the polled and the
// fixed wait. Only the chosen device leaving and one bootloader arriving
// may pass; a bootloader that comes while it is away cannot be told from
// it, and its return during the update is then reported.
TEST_F(UpdateEventsTest, ChosenDeviceRestartIsWatchedAgainstDevicesPluggedIn) {
    struct Case {
        const char* kind;  // of the device plugged in
        uint32_t afterMs;  // after the start of the run
        bool polled;
        const char* bus;  // the bus_changed line, "" for none
        bool chosenWritten, newcomerWritten;
        uint32_t chosenRuns;
    };
    const Case cases[] = {
        {"boot", 200, true, "bus update second-bootloader 1 2", false, true, 0},
        {"boot", 200, false, "bus restart second-bootloader 1 2", false, false, 0},
        {"boot", 400, true, "bus update second-bootloader 1 2", false, true, 0},
        {"boot", 400, false, "bus restart second-bootloader 1 2", false, false, 0},
        {"boot", 1100, true, "bus update second-bootloader 1 2", true, false, 1},
        {"boot", 1100, false, "bus restart second-bootloader 1 2", false, false, 0},
        {"2021", 200, true, "bus restart arrival 1 1", false, false, 0},
        {"2021", 400, false, "bus restart arrival 1 1", false, false, 0},
        {"2021", 1100, true, "bus update arrival 1 2", true, false, 1},
        {"2021", 1100, false, "bus restart arrival 1 2", false, false, 1},
        {"2021", 2600, false, "bus update arrival 1 2", true, false, 1},
        {"xyz", 300, true, "bus restart arrival 1 1", false, false, 0},
        {"xyz", 1100, false, "bus restart arrival 1 2", false, false, 1},
        {"xyz", 9000, true, "", true, false, 1},
    };
    for (const Case& c : cases) {
        gLog.clear();
        SimDevice* chosen = Attach(SimMode::Application, 0x83, 0, 90);
        chosen->rebootDelayMs = 500;
        chosen->replyDelayMs = 1;
        chosen->eraseDelayMs = 20;
        SimDevice* newcomer = SimAddDevice();
        if (std::string(c.kind) != "boot") {
            newcomer->mode = newcomer->backInMode = SimMode::Application;
            SimSetAppName(newcomer, c.kind);
        }
        SimSetDeviceType(newcomer, 0x83);
        SimSetInstalledApp(newcomer, 0, 80, true);
        newcomer->present = false;
        newcomer->backAt = gFake.now + c.afterMs;
        WorkerSteps steps = UpdateSteps(c.polled ? RestartWait{RESTART_POLL_LIMIT_MS, true, true}
                                                 : RestartWait{RESTART_WAIT_MS, false, true});
        steps.device = 0;
        RunWorker(steps);
        const std::string what = std::string(c.kind) + " after " + N(c.afterMs) + (c.polled ? " ms, polled" : " ms");
        EXPECT_EQ(Matching("bus"), *c.bus ? std::vector<std::string>{c.bus} : std::vector<std::string>{}) << what;
        EXPECT_EQ(chosen->halvesWritten > 0, c.chosenWritten) << what;
        EXPECT_EQ(newcomer->halvesWritten > 0, c.newcomerWritten) << what;
        EXPECT_EQ(chosen->runCommands, c.chosenRuns) << what;
        EXPECT_EQ(newcomer->runCommands, c.newcomerWritten ? 1u : 0u) << what;
        EXPECT_EQ(chosen->modeSwitches, 1u) << what;
    }
}
