#include "bootloader/commands.h"
#include "flashing/flashing.h"
#include "platform/seams.h"

namespace {

constexpr unsigned UNVERSIONED = 0xFFFF;

unsigned Version(uint8_t high, uint8_t low) { return static_cast<unsigned>(high) << 8 | low; }

// Shows the question box; true when the answer is IDNO.
bool AskedAndDeclined(VersionQuestion question) {
    gEvents(QuestionAsked{question});
    const wchar_t* caption = question == VersionQuestion::OlderImage ? L"Error" : L" ";
    const bool no = gUi.messageBox(L"Error", caption, BOX_YESNO) == ANSWER_NO;
    gEvents(QuestionAnswered{question, !no});
    return no;
}

// The user declined: nothing is programmed. The device may be told to run
// only when identification saw a valid application on it; version bytes
// without the signature are what an interrupted update leaves behind.
void Declined(const UpdateJob& job) {
    if (job.info.signature != APP_SIGNATURE) deviceReady = 0;
}

}  // namespace

VersionQuestion QuestionBeforeProgramming(const UpdateJob& job) {
    const unsigned imageVersion = Version(job.imageVerHi, job.imageVerLo);
    const unsigned deviceVersion = Version(job.info.appVerHi, job.info.appVerLo);
    if (imageVersion == UNVERSIONED) return VersionQuestion::UnversionedImage;
    if (imageVersion < deviceVersion && deviceVersion != UNVERSIONED) return VersionQuestion::OlderImage;
    return VersionQuestion::None;
}

bool ImageIsCurrent(const UpdateJob& job) {
    const unsigned imageVersion = Version(job.imageVerHi, job.imageVerLo);
    return imageVersion != UNVERSIONED && imageVersion == Version(job.info.appVerHi, job.info.appVerLo) &&
           job.info.signature == APP_SIGNATURE;
}

void SkipCurrentOrProgram(UpdateJob& job) {
    if (!ImageIsCurrent(job)) return VersionCheckAndProgram(job);
    // deviceReady stays 1: the worker tells the device to run what it holds.
    gEvents(AlreadyCurrent{});
}

void VersionCheckAndProgram(UpdateJob& job) {
    const VersionQuestion question = QuestionBeforeProgramming(job);
    if (question != VersionQuestion::None && AskedAndDeclined(question)) return Declined(job);
    const bool programmed = ProgramFlash(job);
    if (job.stopped) return;  // stopped on request: deviceReady is cleared, no box
    gUi.messageBox(programmed ? L"OK" : L"Error", L" ", BOX_OK | BOX_ICONWARNING);
    // A device whose flash was partly rewritten must not be told to run.
    if (!programmed) deviceReady = 0;
}
