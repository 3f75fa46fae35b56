// What the core's events said about one run, kept by the recorder for the
// writers and for the result.
#pragma once

#include <cstdint>
#include <string>

#include "events/update_events.h"

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
    // What the first attempt identified: a retry after an erase finds no
    // version, but the result names the unit's version before the run.
    bool firstIdentified = false;
    uint8_t firstType = 0;
    uint8_t firstHi = 0, firstLo = 0;
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
    bool finished = false;
    bool deviceReady = false;
    uint32_t devicesListed = 0;
    // The index of the device the run acted on: the last one discovery
    // reported (after a mode switch, its bootloader).
    bool deviceIndexKnown = false;
    uint32_t deviceIndex = 0;
    // The first failed exchange, and how many failed.
    uint32_t failures = 0;
    ExchangeFailure failure{};
    // The watch over the chosen device's restart saw the bus change.
    bool busChanged = false;
    BusWatchPhase busPhase = BusWatchPhase::Restart;
    BusChange busChange = BusChange::Arrival;
    uint32_t busDevicesBefore = 0, busDevicesNow = 0;
    // The chosen device runs its application and device waitingIndex waits
    // in its bootloader: nothing was sent.
    bool bootloaderWaiting = false;
    uint32_t waitingIndex = 0;
    bool alreadyCurrent = false;
    bool deviceCountFailed = false;  // a device count failed: the bus is not known
};
