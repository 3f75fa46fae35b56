#include "flashing/flashing.h"
#include "platform/seams.h"

namespace {

constexpr unsigned UNVERSIONED = 0xFFFF;

unsigned Version(uint8_t high, uint8_t low) { return static_cast<unsigned>(high) << 8 | low; }

}  // namespace

void VersionCheckAndProgram(UpdateJob& job) {
    const unsigned imageVersion = Version(job.imageVerHi, job.imageVerLo);
    const unsigned deviceVersion = Version(job.info.appVerHi, job.info.appVerLo);
    if (imageVersion == UNVERSIONED) {
        if (gUi.messageBox(L"Error", L" ", BOX_YESNO) == ANSWER_NO) return;
    } else if (imageVersion < deviceVersion && deviceVersion != UNVERSIONED) {
        if (gUi.messageBox(L"Error", L"Error", BOX_YESNO) == ANSWER_NO) return;
    }
    const bool programmed = ProgramFlash(job);
    gUi.messageBox(programmed ? L"OK" : L"Error", L" ", BOX_OK | BOX_ICONWARNING);
    // A device whose flash was partly rewritten must not be told to run.
    if (!programmed) deviceReady = 0;
}
