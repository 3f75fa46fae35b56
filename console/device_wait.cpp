#include "console/device_wait.h"

#include <string>

#include "console/interrupt.h"
#include "console/report.h"
#include "job/update_job.h"
#include "platform/seams.h"

namespace {

// A plugged-in unit is found within a tenth of a second; a stop request is
// answered as quickly.
constexpr uint32_t WAIT_POLL_MS = 100;

// The device the run can start with is there: device N when --device N
// names one (whatever it runs: the run then says what it is), else any
// Lumaris device (several end in a device choice, as without the wait).
bool Ready(uint32_t device, const std::vector<SeenDevice>& bus) {
    if (device != ANY_DEVICE) return device < bus.size();
    return !LumarisDevices(bus).empty();
}

std::string Awaited(uint32_t device) {
    return device == ANY_DEVICE ? "a Lumaris device" : "device " + std::to_string(device);
}

}  // namespace

bool AwaitDevice(const ConsoleOptions& options, std::vector<SeenDevice>* bus, int* exitCode) {
    const uint32_t limitMs = options.waitDeviceSeconds * 1000;
    const uint32_t start = gClock.tickCount();
    bool told = false;
    for (;;) {
        if (InterruptRequested()) {
            const RunResult result = MakeResult(Outcome::Interrupted, DeviceState::None,
                                                "interrupted while waiting for a device: nothing was written");
            ReportRunResult(options.command, result);
            *exitCode = result.exitCode;
            return false;
        }
        if (!SurveyDevices(bus)) {
            *exitCode = ReportFailure(options.command, Outcome::NoDeviceCount, "the USB library gave no device count");
            return false;
        }
        if (Ready(options.device, *bus)) return true;
        if (limitMs != 0 && gClock.tickCount() - start >= limitMs) {
            const RunResult result = MakeResult(
                Outcome::NoDevice, DeviceState::None,
                "no " + (options.device == ANY_DEVICE ? std::string("Lumaris device") : Awaited(options.device)) +
                    " was attached within " + std::to_string(options.waitDeviceSeconds) + " s: nothing was written");
            ReportRunResult(options.command, result);
            *exitCode = result.exitCode;
            return false;
        }
        if (!told) ReportWaitingForDevice(options.device, options.waitDeviceSeconds);
        told = true;
        gClock.sleep(WAIT_POLL_MS);
    }
}
