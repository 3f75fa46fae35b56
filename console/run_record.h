// What the core's events said about one run, kept by the recorder for the
// writers and for the result.
#pragma once

#include <cstdint>
#include <string>

#include "platform/update_events.h"

struct RunRecord {
    bool deviceFound = false;
    DeviceKind firstKind = DeviceKind::Unknown;
    std::string firstId;
    bool restartRequested = false;
    bool restartAwaited = false;
    RestartWaitEnd restartEnd = RestartWaitEnd::Waited;
    uint32_t restartWaitedMs = 0;
    bool switchedDeviceMissing = false;
    uint32_t devicesBefore = 0, devicesAfter = 0;
    bool identified = false;
    uint8_t deviceType = 0;
    uint8_t installedHi = 0, installedLo = 0;
    bool installedValid = false;
    bool imagePrepared = false;
    bool imageLoaded = false;
    bool imageAccepted = false;
    uint8_t imageType = 0;
    uint8_t imageHi = 0, imageLo = 0;
    VersionQuestion question = VersionQuestion::None;
    bool answered = false;
    bool answeredYes = false;
    bool programmingStarted = false;
    uint32_t pagesTotal = 0;
    uint32_t pagesWritten = 0;
    uint32_t pagesVerified = 0;
    bool signatureWritten = false;
    bool signatureConfirmed = false;
    bool runSent = false;
    bool verdictSeen = false;
    CheckVerdict verdict = CheckVerdict::Refuse;
    bool stopped = false;
    bool stoppedWithFlashOpen = false;
    bool stopRequested = false;  // set by the caller: a stop request came at any time
    bool finished = false;
    bool deviceReady = false;
    uint32_t devicesListed = 0;
};
