#include "tests/test_support.h"

SimBus& InstallTestWorld(uint32_t startTick) {
    FakePlatformInstall(startTick);
    SimReset(FakeClockPeek);
    gSimBus.lockDepthProbe = FakeLockDepth;
    return gSimBus;
}

std::vector<std::vector<uint8_t>> WrittenPackets() {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& call : gSimBus.calls)
        if (call.op == SimOp::Write) out.push_back(call.bytes);
    return out;
}

std::vector<SimOp> CalledOps() {
    std::vector<SimOp> out;
    for (const auto& call : gSimBus.calls) out.push_back(call.op);
    return out;
}
