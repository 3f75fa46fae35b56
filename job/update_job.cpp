#include "job/update_job.h"

#include <cstring>

uint8_t deviceReady = 0;
uint8_t appModeMatched = 0;

void CreateUpdateJob(UpdateJob& job) {
    job.handle = NO_DEVICE;
    job.deviceCount = 0;
    std::memset(job.targetSerial, 0, sizeof job.targetSerial);
    job.info = DeviceInfo{0, 0, 0, DEVICE_TYPE_UNKNOWN};
    job.lastPage = CLOSED_LAST_PAGE;
    job.imageType = 0;
    job.imageVerHi = 0;
    job.imageVerLo = 0;
    job.switchedToBootloader = false;
    job.stopped = false;
    job.chosenDevice = ANY_DEVICE;
    job.targetIndex = 0;
    job.pageIndex = 0;
    job.watch = RestartWatch::Off;
    job.busBefore = job.busExpected = BusKinds{0, 0, 0};
    job.chosenKnown = false;
    // ImageBuffer and PageMap are prepared by the image step before every
    // load; they start out as zeros so that nothing reads indeterminate bytes.
    std::memset(job.ImageBuffer, 0, sizeof job.ImageBuffer);
    std::memset(job.PageMap, 0, sizeof job.PageMap);
}

void DestroyUpdateJob(UpdateJob& job) { std::memset(job.targetSerial, 0, sizeof job.targetSerial); }
