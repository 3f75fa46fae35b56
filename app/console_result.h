// What the console program decides at the end of a run: the outcome, the
// exit code, the device's state and the last line, from what the core
// reported (kept in a RunRecord by the report).
#pragma once

#include <cstdint>
#include <string>

#include "console_options.h"
#include "platform/update_events.h"

struct RunRecord {
    bool deviceFound = false;
    DeviceKind firstKind = DeviceKind::Unknown;
    std::string firstId;
    bool restartRequested = false;
    bool restartAwaited = false;
    RestartWaitEnd restartEnd = RestartWaitEnd::Waited;
    uint32_t restartWaitedMs = 0;
    bool identified = false;
    uint8_t deviceType = 0;
    uint8_t installedHi = 0, installedLo = 0;
    bool installedValid = false;
    bool imagePrepared = false;
    bool imageLoaded = false;
    bool imageAccepted = false;
    uint8_t imageType = 0;
    uint8_t imageHi = 0, imageLo = 0;
    uint32_t imagePages = 0;
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
    bool finished = false;
    bool deviceReady = false;
    uint32_t devicesListed = 0;
    uint32_t errorBoxes = 0;
};

struct ConsoleResult {
    const char* outcome;      // one word, e.g. "updated", "declined", "would-program"
    int exitCode;             // 0, 1 or 3
    const char* deviceState;  // "runs-image", "holds-image", "kept-application", "no-valid-application",
                              // "unchanged", "none"
    std::string line;         // the last line in words
};

// The result of a run of `command` (Update, Check or List) from what the
// core reported.
ConsoleResult DecideResult(ConsoleCommand command, const RunRecord& run);
