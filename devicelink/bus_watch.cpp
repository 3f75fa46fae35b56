// The watch over a chosen device's restart: every bootloader says the same
// string, so the chosen device is known after its restart only when the
// bus changed by exactly that device leaving and one bootloader arriving.
#include "bootloader/commands.h"
#include "devicelink/device_link.h"
#include "devicelink/identifiers.h"
#include "events/update_events.h"
#include "platform/seams.h"
#include "usb/usb_access.h"

namespace {

bool Same(const BusKinds& a, const BusKinds& b) {
    return a.application == b.application && a.bootloader == b.bootloader && a.other == b.other;
}

bool Within(const BusKinds& now, const BusKinds& limit) {
    return now.application <= limit.application && now.bootloader <= limit.bootloader && now.other <= limit.other;
}

// The bus without the switched device, and with one bootloader in its place.
BusKinds Away(const BusKinds& before) {
    BusKinds kinds = before;
    if (kinds.application > 0) --kinds.application;
    return kinds;
}

BusKinds Back(const BusKinds& before) {
    BusKinds kinds = Away(before);
    ++kinds.bootloader;
    return kinds;
}

bool ReadBus(BusKinds* kinds, uint32_t* firstBootloader) {
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK) return false;
    *kinds = ScanBus(count, firstBootloader);
    return true;
}

// What differs from `expected`, the bus that was due; `beforeLeaving` while
// the chosen device has not been seen to leave.
BusChange Describe(const BusKinds& expected, const BusKinds& now, bool beforeLeaving) {
    if (now.bootloader > expected.bootloader)
        return beforeLeaving ? BusChange::EarlyBootloader : BusChange::SecondBootloader;
    if (now.application > expected.application || now.other > expected.other) return BusChange::Arrival;
    return BusChange::Departure;
}

void Change(UpdateJob& job, BusWatchPhase phase, const BusKinds& expected, const BusKinds& now, bool beforeLeaving) {
    const bool back = job.watch == RestartWatch::Back || job.watch == RestartWatch::Returned;
    job.chosenKnown = back && expected.bootloader == 1 && now.bootloader == 1;
    job.watch = RestartWatch::Changed;
    gEvents(BusChanged{phase, Describe(expected, now, beforeLeaving), DevicesOnBus(job.busBefore), DevicesOnBus(now)});
}

// One look at the bus during the wait.
void Step(UpdateJob& job, const BusKinds& now) {
    const BusKinds away = Away(job.busBefore);
    const BusKinds back = Back(job.busBefore);
    switch (job.watch) {
        case RestartWatch::Switched:
            if (Same(now, job.busBefore)) return;
            // A bootloader in its place before it was seen to leave may
            // be another device: the device is seen away first.
            if (Same(now, away)) {
                job.watch = RestartWatch::Away;
            } else {
                Change(job, BusWatchPhase::Restart, job.busBefore, now, true);
            }
            return;
        case RestartWatch::Away:
            if (Same(now, away)) return;
            if (Same(now, back)) {
                job.watch = RestartWatch::Back;
            } else {
                Change(job, BusWatchPhase::Restart, back, now, false);
            }
            return;
        case RestartWatch::Back:
            if (!Same(now, back)) Change(job, BusWatchPhase::Restart, back, now, false);
            return;
        default: return;
    }
}

// After the wait: departures lower what the bus may hold, an arrival ends
// the watch.
bool Arrived(UpdateJob& job, BusWatchPhase phase, const BusKinds& now) {
    if (Within(now, job.busExpected)) {
        job.busExpected = now;
        return false;
    }
    Change(job, phase, job.busExpected, now, false);
    return true;
}

}  // namespace

BusKinds ScanBus(uint32_t count, uint32_t* firstBootloader) {
    BusKinds kinds{0, 0, 0};
    const uint32_t searched = DevicesToSearch(count);
    for (uint32_t i = 0; i < searched; ++i) {
        IdString id;
        const DeviceKind kind = ReadIdString(i, &id) == USB_OK ? ClassifyId(id) : DeviceKind::Unreadable;
        if (kind == DeviceKind::Application) {
            ++kinds.application;
        } else if (kind == DeviceKind::Bootloader) {
            if (kinds.bootloader++ == 0 && firstBootloader) *firstBootloader = i;
        } else {
            ++kinds.other;
        }
    }
    kinds.other += count - searched;
    return kinds;
}

void WatchBusOnce(UpdateJob& job) {
    BusKinds now{};
    if (!ReadBus(&now, nullptr)) return;
    Step(job, now);
    job.busExpected = now;
}

RestartWaitEnd WatchRestart(UpdateJob& job, uint32_t limitMs, bool untilBootloader) {
    const uint32_t start = gClock.tickCount();
    for (;;) {
        WatchBusOnce(job);
        if (job.watch == RestartWatch::Changed) return RestartWaitEnd::BusChanged;
        if (untilBootloader && job.watch == RestartWatch::Back) break;
        if (gClock.tickCount() - start >= limitMs) break;
        gClock.sleep(RESTART_POLL_MS);
    }
    if (job.watch != RestartWatch::Back) return RestartWaitEnd::TimedOut;
    job.watch = RestartWatch::Returned;
    job.busExpected = Back(job.busBefore);
    return untilBootloader ? RestartWaitEnd::BootloaderSeen : RestartWaitEnd::Waited;
}

bool BusChangedSinceRestart(UpdateJob& job, BusWatchPhase phase) {
    if (job.watch == RestartWatch::Changed) return true;
    if (job.watch != RestartWatch::Returned) return false;
    BusKinds now{};
    return ReadBus(&now, nullptr) && Arrived(job, phase, now);
}

bool FindReturnedDevice(UpdateJob& job, uint32_t* index) {
    if (job.watch != RestartWatch::Returned) return false;
    BusKinds now{};
    uint32_t first = 0;
    if (!ReadBus(&now, &first) || Arrived(job, BusWatchPhase::Restart, now) || now.bootloader != 1) return false;
    *index = first;
    return true;
}

void ReturnChosenDevice(UpdateJob& job) {
    if (job.watch != RestartWatch::Changed || !job.chosenKnown || job.handle != NO_DEVICE) return;
    BusKinds now{};
    uint32_t index = 0;
    IdString id;
    if (!ReadBus(&now, &index) || now.bootloader != 1 || ReadIdString(index, &id) != USB_OK) return;
    gEvents(DeviceFound{index, ClassifyId(id), id.bytes, id.length});
    job.targetIndex = index;
    OpenDevice(job);
    if (job.handle != NO_DEVICE && job.info.signature == APP_SIGNATURE) RunApplication(job);
}
