// Programming the device's flash page by page, and the version check that
// asks the user before an older or unversioned image.
#pragma once

#include <cstdint>

#include "events/update_events.h"
#include "job/update_job.h"

// The bootloader's flash key, sent as two separate bytes; 0x00, 0x00 locks
// flash writing again.
constexpr uint8_t FLASH_KEY_FIRST = 0xA5;
constexpr uint8_t FLASH_KEY_SECOND = 0xF1;

// CRC-16/KERMIT (reflected polynomial 0x8408, initial 0, no final XOR) over
// the 512 bytes of `page` in job.ImageBuffer.
uint16_t PageCrc(const UpdateJob& job, uint8_t page);

// Unlocks flash, erases the signature page, writes and proves every page of
// 10..lastPage that the image carries, writes the signature, reads it back
// and locks flash again. Shows one "Error" box on the first failure. Asks
// gStop before the flash key (StopBeforeWriting), before every page and
// before the signature; a stop gives false with no box and job.stopped set.
bool ProgramFlash(UpdateJob& job);

// Asks gStop whether to end the run before anything is written. On a stop a
// device that discovery switched into its bootloader, and that holds a valid
// application, is told to run it again; deviceReady is cleared, job.stopped
// set and gEvents(RunStopped{false}) reported. True when the run stops here.
bool StopBeforeWriting(UpdateJob& job);

// The question an update asks before it programs: none, or the one for an
// image without a version (bytes 0xFF, 0xFF), or the one for an image older
// than the installed application (unless that reports 0xFFFF).
VersionQuestion QuestionBeforeProgramming(const UpdateJob& job);

// True when the device holds a valid application whose version is the
// image's (an unversioned image is never current).
bool ImageIsCurrent(const UpdateJob& job);

// The programming step of an update that skips a current device: such a
// device is reported (AlreadyCurrent) and programmed nothing, and
// deviceReady stays set so that it is told to run; any other device goes
// through VersionCheckAndProgram.
void SkipCurrentOrProgram(UpdateJob& job);

// Compares image and device versions, asks before an unversioned or older
// image, programs and reports the result in a box. A failed programming run
// clears deviceReady, and so does a declined question over a device whose
// identification showed no valid application.
void VersionCheckAndProgram(UpdateJob& job);
