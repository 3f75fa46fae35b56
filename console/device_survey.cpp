#include "console/device_survey.h"

#include "devicelink/device_link.h"
#include "platform/seams.h"

namespace {

std::vector<SeenDevice>* gSeen = nullptr;

void Seen(const UpdateEvent& event) {
    const auto* found = std::get_if<DeviceFound>(&event);
    if (!found) return;
    const uint8_t* id = found->id;
    gSeen->push_back(SeenDevice{found->index, found->kind,
                                id ? std::vector<uint8_t>(id, id + found->length) : std::vector<uint8_t>{},
                                id != nullptr});
}

}  // namespace

bool SurveyDevices(std::vector<SeenDevice>* devices) {
    devices->clear();
    gSeen = devices;
    // Discovery reports each device through the core's events: for the
    // survey only, and not to the run's writers.
    const UpdateEventSink saved = gEvents;
    gEvents = Seen;
    gUsbLock.initialise();
    const bool counted = ListDevices();
    gUsbLock.remove();
    gEvents = saved;
    gSeen = nullptr;
    return counted;
}

std::vector<const SeenDevice*> LumarisDevices(const std::vector<SeenDevice>& devices) {
    std::vector<const SeenDevice*> found;
    for (const SeenDevice& device : devices)
        if (device.kind == DeviceKind::Application || device.kind == DeviceKind::Bootloader) found.push_back(&device);
    return found;
}

bool SameDevice(const SeenDevice& a, const SeenDevice& b) {
    return a.index == b.index && a.kind == b.kind && a.readable == b.readable && a.id == b.id;
}
