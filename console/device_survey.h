// A silent look at the bus: which devices are attached and what each runs,
// without a word to the output. The console program decides from it which
// device an update may act on, before the first attempt and between attempts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "events/update_events.h"

struct SeenDevice {
    uint32_t index;
    DeviceKind kind;
    std::vector<uint8_t> id;
    bool readable;
};

// The devices attached, in the bus's order; false when the bus gives no count.
bool SurveyDevices(std::vector<SeenDevice>* devices);

// The Lumaris devices (application or bootloader) among `devices`.
std::vector<const SeenDevice*> LumarisDevices(const std::vector<SeenDevice>& devices);

bool SameDevice(const SeenDevice& a, const SeenDevice& b);
