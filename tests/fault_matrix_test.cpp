// One whole update with every single fault the simulated device can inject,
// at every place where it can act in a clean run: status faults at every
// library call, faults of a reply at every packet written, short reads at
// every read, failed device counts at every count. Whatever happens, the run
// ends, "OK" is drawn only over a device that holds the image with a valid
// signature, and the device is left in a state from which another run
// recovers: after it is plugged in afresh, and also without that, on the same
// device, unless it vanished or a close failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "job/update_job.h"
#include "tests/test_support.h"
#include "worker/update_worker.h"

namespace {

constexpr uint8_t OLD_FILL = 0x11;

SimDevice* AttachAppModeDevice() {
    InstallTestWorld();
    gSimBus.recordCalls = false;
    SimDevice* d = SimAddDevice();
    d->mode = d->backInMode = SimMode::Application;
    SimFillOldApplication(d, OLD_FILL);
    SimSetInstalledApp(d, 0x00, 0x90, true);
    return d;
}

bool DrewOk() {
    for (const auto& t : FakeTexts())
        if (t.text.rfind(L"OK", 0) == 0) return true;
    return false;
}

enum class DeviceState { Untouched, Updated, NoValidApp, Corrupt };

const char* StateName(DeviceState s) {
    switch (s) {
        case DeviceState::Untouched: return "untouched";
        case DeviceState::Updated: return "updated";
        case DeviceState::NoValidApp: return "no valid application";
        case DeviceState::Corrupt: return "CORRUPT";
    }
    return "?";
}

DeviceState StateOf(const SimDevice* d, const uint8_t* original) {
    if (std::memcmp(d->flash, original, SIM_FLASH_SIZE) == 0) return DeviceState::Untouched;
    if (!SimHasValidApp(d)) return DeviceState::NoValidApp;
    if (DeviceHoldsImage(d, DemoImage(), OLD_FILL)) return DeviceState::Updated;
    return DeviceState::Corrupt;  // changed, yet marked valid
}

// Where one fault is put: a library call, or a packet written.
struct Placement {
    SimFaultKind kind;
    uint32_t number;
    bool countsPackets;
};

bool ActsOnAReply(SimFaultKind kind) {
    return kind != SimFaultKind::FailStatus && kind != SimFaultKind::Vanish && kind != SimFaultKind::ShortRead &&
           kind != SimFaultKind::FailCount;
}

// The user tries again, some seconds later, on the device as it is.
bool RetrySucceeds(const SimDevice* d, const uint8_t* original) {
    SimSetFault(SimFaultKind::None, 0);
    gSimBus.faultCountsWrites = false;
    gFake.events.clear();
    gFake.now += 5000;
    UpdateWorker();
    return DrewOk() && StateOf(d, original) == DeviceState::Updated;
}

TEST(FaultMatrix, EverySingleFaultAtEveryPlaceLeavesARecoverableDevice) {
    AttachAppModeDevice();
    gSimBus.recordCalls = true;
    ASSERT_EQ(UpdateWorker(), 0u);
    ASSERT_TRUE(DrewOk());
    const uint32_t cleanCalls = gSimBus.callCount;
    const uint32_t cleanPackets = gSimBus.writeCount;
    const uint32_t cleanCounts = gSimBus.countCalls;
    std::vector<uint32_t> readCalls;
    std::vector<bool> isClose(cleanCalls + 1, false);
    for (size_t i = 0; i < gSimBus.calls.size(); ++i) {
        if (gSimBus.calls[i].op == SimOp::Read) readCalls.push_back(static_cast<uint32_t>(i + 1));
        isClose[i + 1] = gSimBus.calls[i].op == SimOp::Close;
    }

    std::vector<Placement> placements;
    for (SimFaultKind kind : SIM_FAULT_KINDS) {
        if (kind == SimFaultKind::ShortRead) {
            for (uint32_t call : readCalls) placements.push_back({kind, call, false});
        } else if (kind == SimFaultKind::FailCount) {
            for (uint32_t count = 1; count <= cleanCounts; ++count) placements.push_back({kind, count, false});
        } else if (ActsOnAReply(kind)) {
            for (uint32_t packet = 1; packet <= cleanPackets; ++packet) placements.push_back({kind, packet, true});
        } else {
            for (uint32_t call = 1; call <= cleanCalls; ++call) placements.push_back({kind, call, false});
        }
    }

    static uint8_t original[SIM_FLASH_SIZE];
    std::map<std::string, int> outcomes;
    std::map<std::string, int> placed, withEffect, replugNeeded;
    std::vector<std::string> replugNeededAt;
    int runs = 0;
    for (const Placement& p : placements) {
        SimDevice* d = AttachAppModeDevice();
        std::memcpy(original, d->flash, sizeof original);
        SimSetFault(p.kind, p.number);
        gSimBus.faultCountsWrites = p.countsPackets;
        UpdateWorker();
        ++runs;
        const std::string kind = SimFaultName(p.kind);
        const char* at = p.kind == SimFaultKind::FailCount ? " at device count "
                         : p.countsPackets                 ? " at packet "
                                                           : " at call ";
        const std::string what = kind + at + std::to_string(p.number);

        const DeviceState state = StateOf(d, original);
        ASSERT_NE(state, DeviceState::Corrupt) << what;
        const bool ok = DrewOk();
        if (ok) {
            ASSERT_EQ(state, DeviceState::Updated) << what << ": OK drawn over a device not updated";
        }
        ++outcomes[std::string(ok ? "OK, " : "ERROR or nothing, ") + StateName(state)];
        ++placed[kind];
        if (!ok || gSimBus.callCount != cleanCalls) ++withEffect[kind];

        // The same run's end, twice: the device plugged in afresh, and not.
        const SimBus afterFault = gSimBus;
        const FakePlatform fakeAfterFault = gFake;
        SimReplug();
        ASSERT_TRUE(RetrySucceeds(d, original)) << what << ": the next run after a replug did not complete";
        gSimBus = afterFault;
        gFake = fakeAfterFault;
        runs += 2;
        const bool replugged = !RetrySucceeds(d, original);
        if (replugged) {
            ++replugNeeded[kind];
            if (p.kind != SimFaultKind::Vanish) replugNeededAt.push_back(what);
        }
        // A device that vanished is gone until it is plugged in again. A
        // close that fails leaves the device open in the library while the
        // program forgets its handle: no later open in the same process
        // reaches it. Nothing else may need a replug.
        const bool failedClose = p.kind == SimFaultKind::FailStatus && !p.countsPackets && isClose[p.number];
        EXPECT_EQ(replugged, p.kind == SimFaultKind::Vanish || failedClose) << what;
    }

    std::printf("fault matrix: a clean run makes %u calls, %u of them packets, %zu reads and %u device counts;\n",
                cleanCalls, cleanPackets, readCalls.size(), cleanCounts);
    std::printf(
        "  %zu distinct fault placements, %d runs (each faulted run followed by a retry after a replug\n"
        "  and, from the same state, by a retry without one)\n",
        placements.size(), runs);
    std::printf("  %-15s %8s %12s %14s\n", "fault", "placed", "run changed", "replug needed");
    for (SimFaultKind k : SIM_FAULT_KINDS) {
        const std::string kind = SimFaultName(k);
        std::printf("  %-15s %8d %12d %14d\n", kind.c_str(), placed[kind], withEffect[kind], replugNeeded[kind]);
    }
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
    for (const auto& at : replugNeededAt) std::printf("  replug needed after %s (a close)\n", at.c_str());
}

}  // namespace
