// The pre-flight check: the update's own steps up to the version check, with
// the image step and the programming step replaced by ones that only report.
#include "bootloader/commands.h"
#include "events/update_events.h"
#include "flashing/flashing.h"
#include "image/image_validation.h"
#include "job/update_job.h"
#include "worker/update_worker.h"

namespace {

void CheckImage(UpdateJob& job) {
    PrepareAndValidateImage(job);
    if (deviceReady == 1) return;
    gEvents(CheckFinished{CheckVerdict::Refuse});
    // The window program's update would stop here and leave the device in
    // its bootloader; the check sends it back to a valid application it
    // still holds.
    if (job.handle != NO_DEVICE && job.info.signature == APP_SIGNATURE) RunApplication(job);
}

void CheckVersion(UpdateJob& job) {
    if (ImageIsCurrent(job)) return gEvents(CheckFinished{CheckVerdict::Current});
    switch (QuestionBeforeProgramming(job)) {
        case VersionQuestion::None: gEvents(CheckFinished{CheckVerdict::Program}); break;
        case VersionQuestion::UnversionedImage: gEvents(CheckFinished{CheckVerdict::AskUnversioned}); break;
        case VersionQuestion::OlderImage: gEvents(CheckFinished{CheckVerdict::AskOlder}); break;
    }
}

}  // namespace

void PrepareImageOrReturn(UpdateJob& job) {
    PrepareAndValidateImage(job);
    if (deviceReady == 1) return;
    if (job.handle != NO_DEVICE && job.info.signature == APP_SIGNATURE) RunApplication(job);
}

WorkerSteps CheckSteps(RestartWait wait) { return WorkerSteps{CheckImage, CheckVersion, wait, ANY_DEVICE}; }
