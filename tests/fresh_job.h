// A job record as the image step leaves it before it loads: 0xFF in every
// byte of the flash image, no page marked. On the heap (the record is about
// 64 KB).
#pragma once

#include <cstring>
#include <memory>

#include "job/update_job.h"

inline std::unique_ptr<UpdateJob> FreshJob() {
    auto job = std::make_unique<UpdateJob>();
    CreateUpdateJob(*job);
    std::memset(job->ImageBuffer, 0xFF, sizeof job->ImageBuffer);
    std::memset(job->PageMap, 0, sizeof job->PageMap);
    return job;
}
