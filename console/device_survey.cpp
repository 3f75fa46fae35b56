#include "console/device_survey.h"

#include "devicelink/device_link.h"
#include "platform/seams.h"

namespace {

std::vector<SeenDevice>* gSeen = nullptr;

void Seen(uint32_t index, DeviceKind kind, const uint8_t* id, size_t length) {
    gSeen->push_back(
        SeenDevice{index, kind, id ? std::vector<uint8_t>(id, id + length) : std::vector<uint8_t>{}, id != nullptr});
}

}  // namespace

bool SurveyDevices(std::vector<SeenDevice>* devices) {
    devices->clear();
    gSeen = devices;
    // Discovery reports each device through the core's events: for the
    // survey only, and not to the run's writers.
    const UpdateEvents saved = gEvents;
    UpdateEvents survey = NO_UPDATE_EVENTS;
    survey.deviceFound = Seen;
    gEvents = survey;
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
