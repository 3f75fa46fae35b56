#include "sim/sim_faults.h"

#include "sim/sim_device.h"

bool SimViolation(const char* what) {
    ++gSimBus.violations;
    if (gSimBus.violation) gSimBus.violation(what);
    return true;
}

bool SimOverCallLimit() {
    if (gSimBus.callLimit == 0 || gSimBus.callCount <= gSimBus.callLimit) return false;
    return SimViolation("more library calls than any run that ends makes: a wait that never ends?");
}

namespace {

bool BusFaultHere(SimFaultKind kind) {
    if (gSimBus.faultKind != kind) return false;
    const uint32_t number = gSimBus.faultCountsWrites ? gSimBus.writeCount : gSimBus.callCount;
    return number == gSimBus.faultCall;
}

bool DeviceFaultHere(const SimDevice* d, SimFaultKind kind) {
    return d && d->faultKind == kind && d->packetsWritten == d->faultPacket;
}

}  // namespace

namespace {

// Whether the fault `kind` acts on `d` now; counts the act for its owner.
bool FaultActsHere(SimDevice* d, SimFaultKind kind) {
    if (BusFaultHere(kind)) {
        ++gSimBus.faultActs;
        return true;
    }
    if (DeviceFaultHere(d, kind)) {
        ++d->faultActs;
        return true;
    }
    return false;
}

}  // namespace

bool SimShortReadHere(SimDevice* d) { return FaultActsHere(d, SimFaultKind::ShortRead); }

bool SimFlippedBitHere(SimDevice* d) { return FaultActsHere(d, SimFaultKind::FlippedBit); }
