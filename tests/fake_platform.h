// The test platform: records every box and text in order, answers questions
// from a script, and runs a virtual clock that advances on every tick query
// and on every sleep, so that waits cost no real time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeEvent {
    enum Kind { Box, Text } kind;
    std::wstring text;
    std::wstring caption;  // Box
    unsigned style;        // Box
    int answer;            // Box
    int x, y;              // Text
    int lockDepth;         // depth of UsbLock when the event happened
};

struct FakePlatform {
    uint32_t now;           // the virtual clock
    uint32_t stepPerQuery;  // how far one tick query moves it
    uint64_t tickQueries;
    uint64_t sleptMs;
    std::vector<FakeEvent> events;
    std::vector<int> answers;  // answers for yes/no boxes, used in order
    size_t nextAnswer;
    int defaultQuestionAnswer;  // when the script has run out
    int lockDepth;
    int lockInits;
    int lockDeletes;
    int maxLockDepth;
    int lockEntersOutsideLife;  // enters before the lock was initialised or after it was deleted
    // More tick queries than this since the install (0: no limit) mean a
    // wait that never ends: `runaway` is called (it must not return, e.g. a
    // test's hook throws), or the process aborts.
    uint64_t tickQueryLimit;
    void (*runaway)(const char* what);
    // A pause of the PC: tick query number `pauseAtQuery` (counted since the
    // install; 0: none) finds the clock `pauseMs` further on.
    uint64_t pauseAtQuery;
    uint32_t pauseMs;
};

extern FakePlatform gFake;

// Installs the fake seams with the clock at `start`; clears the record.
void FakePlatformInstall(uint32_t start = 1000, uint32_t stepPerQuery = 1);
// The clock without moving it (for the simulated device).
uint32_t FakeClockPeek();
int FakeLockDepth();

std::vector<FakeEvent> FakeBoxes();
std::vector<FakeEvent> FakeTexts();
size_t FakeErrorBoxCount();
