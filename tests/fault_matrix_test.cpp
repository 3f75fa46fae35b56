// One whole update with every single fault the simulated device can inject,
// at every library call of a clean run. Whatever happens, the run ends, the
// device is left in a state from which another run recovers, and "OK" is
// drawn only over a device that holds the image with a valid signature.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tests/test_support.h"
#include "job/update_job.h"
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

TEST(FaultMatrix, EverySingleFaultAtEveryCallLeavesARecoverableDevice) {
    AttachAppModeDevice();
    ASSERT_EQ(UpdateWorker(), 0u);
    ASSERT_TRUE(DrewOk());
    const uint32_t cleanCalls = gSimBus.callCount;

    static uint8_t original[SIM_FLASH_SIZE];
    std::map<std::string, int> outcomes;
    int runs = 0;
    for (SimFaultKind kind : SIM_FAULT_KINDS) {
        for (uint32_t call = 1; call <= cleanCalls; ++call) {
            SimDevice* d = AttachAppModeDevice();
            std::memcpy(original, d->flash, sizeof original);
            SimSetFault(kind, call);
            UpdateWorker();
            ++runs;
            const std::string what = std::string(SimFaultName(kind)) + " at call " + std::to_string(call);

            const DeviceState state = StateOf(d, original);
            ASSERT_NE(state, DeviceState::Corrupt) << what;
            const bool ok = DrewOk();
            if (ok) {
                ASSERT_EQ(state, DeviceState::Updated) << what << ": OK drawn over a device not updated";
            }
            ++outcomes[std::string(ok ? "OK, " : "ERROR or nothing, ") + StateName(state)];

            // The user tries again once the device is plugged in afresh.
            SimSetFault(SimFaultKind::None, 0);
            SimReplug();
            gFake.events.clear();
            gFake.now += 5000;
            UpdateWorker();
            ASSERT_TRUE(DrewOk()) << what << ": the next run did not complete";
            ASSERT_EQ(StateOf(d, original), DeviceState::Updated) << what << ": after the next run";
        }
    }
    std::printf("fault matrix: %u calls in a clean run, %zu fault kinds, %d runs (each followed by a clean one)\n",
                cleanCalls, std::size(SIM_FAULT_KINDS), runs);
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
}

}  // namespace
