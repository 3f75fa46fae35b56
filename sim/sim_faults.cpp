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

bool SimShortReadHere() {
    if (gSimBus.faultKind != SimFaultKind::ShortRead) return false;
    const uint32_t number = gSimBus.faultCountsWrites ? gSimBus.writeCount : gSimBus.callCount;
    return number == gSimBus.faultCall;
}

bool SimFlippedBitHere() {
    if (gSimBus.faultKind != SimFaultKind::FlippedBit) return false;
    const uint32_t number = gSimBus.faultCountsWrites ? gSimBus.writeCount : gSimBus.callCount;
    return number == gSimBus.faultCall;
}
