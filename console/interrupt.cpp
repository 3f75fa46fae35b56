#include "console/interrupt.h"

#include "console/report.h"
#include "console/system/console_platform.h"
#include "platform/seams.h"

namespace {

RunRecord gNoRecord;
const RunRecord* gStopPolicyRecord = &gNoRecord;
bool gDeferralTold = false;

bool StopRequested() {
    const unsigned requests = ConsoleInterruptCount();
    if (requests == 0) return false;
    const RunRecord& run = *gStopPolicyRecord;
    const bool flashOpen = run.programmingStarted;
    if (!flashOpen || requests >= 2 || ConsoleClosing()) return true;
    if (!gDeferralTold) {
        gDeferralTold = true;
        const uint32_t done = run.pagesWritten;
        ReportStopDeferred(run.pagesTotal > done ? run.pagesTotal - done : 0);
    }
    return false;
}

}  // namespace

void InterruptInstall(const RunRecord& run) {
    gStopPolicyRecord = &run;
    ConsoleInterruptsInstall();
    gStop = StopSeam{StopRequested};
}

bool InterruptRequested() { return ConsoleInterruptCount() > 0; }
