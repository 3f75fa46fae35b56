// What the console program tells while the core runs, and what it decides
// at the end: it sees the run only through the core's events (gEvents), its
// boxes and texts (gUi) and the loader's line (gOutput), and keeps in a
// RunRecord what they said.
#pragma once

#include <cstdint>
#include <cstdio>
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

struct ReportSettings {
    bool json;
    ConsoleVerbosity verbosity;
    ConsoleAnswerMode answers;  // Unset: ask on standard input if it is a terminal, else No
    bool stdinIsTerminal;
    bool stdoutIsTerminal;
};

// Installs the report's gUi, gEvents and gOutput and starts its clock.
void ReportInstall(const ReportSettings& settings);
const RunRecord& ReportedRun();
uint32_t ReportElapsedMs();

// One packet sent to the device or one reply read from it (-v).
void ReportPacket(bool sent, const uint8_t* bytes, uint32_t length);
// The final result: the JSON result object, or the last line.
void ReportResult(ConsoleCommand command, const ConsoleResult& result);
// An error of the program itself (e.g. the USB library is missing): one line
// on standard error, and in JSON mode the result object too.
void ReportFailure(ConsoleCommand command, const char* outcome, const std::string& message);
// A plain line of a command's output (human mode), or a JSON object made by
// the caller.
void ReportLine(const std::string& line);
