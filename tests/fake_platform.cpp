#include "tests/fake_platform.h"

#include <cstdio>
#include <cstdlib>

#include "platform/seams.h"

FakePlatform gFake;

namespace {

int FakeMessageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    int answer = ANSWER_OK;
    if ((style & 0x0F) == BOX_YESNO) {
        answer =
            gFake.nextAnswer < gFake.answers.size() ? gFake.answers[gFake.nextAnswer++] : gFake.defaultQuestionAnswer;
    }
    gFake.events.push_back(FakeEvent{FakeEvent::Box, text, caption, style, answer, 0, 0, gFake.lockDepth});
    return answer;
}

void FakeDrawText(int x, int y, const wchar_t* text, int count) {
    gFake.events.push_back(
        FakeEvent{FakeEvent::Text, std::wstring(text, static_cast<size_t>(count)), L"", 0, 0, x, y, gFake.lockDepth});
}

uint32_t FakeTickCount() {
    if (++gFake.tickQueries > gFake.tickQueryLimit && gFake.tickQueryLimit != 0) {
        const char what[] = "more tick queries than any run that ends makes: a wait that never ends?";
        if (gFake.runaway) gFake.runaway(what);
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
    if (gFake.tickQueries == gFake.pauseAtQuery) gFake.now += gFake.pauseMs;
    const uint32_t now = gFake.now;
    gFake.now += gFake.stepPerQuery;
    return now;
}

void FakeSleep(uint32_t ms) {
    gFake.sleptMs += ms;
    gFake.now += ms;
}

void FakeLockInit() { ++gFake.lockInits; }
void FakeLockEnter() {
    if (gFake.lockInits == gFake.lockDeletes) ++gFake.lockEntersOutsideLife;
    if (++gFake.lockDepth > gFake.maxLockDepth) gFake.maxLockDepth = gFake.lockDepth;
}
void FakeLockLeave() { --gFake.lockDepth; }
void FakeLockDelete() { ++gFake.lockDeletes; }

std::vector<FakeEvent> EventsOf(FakeEvent::Kind kind) {
    std::vector<FakeEvent> out;
    for (const auto& e : gFake.events)
        if (e.kind == kind) out.push_back(e);
    return out;
}

}  // namespace

void FakePlatformInstall(uint32_t start, uint32_t stepPerQuery) {
    gFake = FakePlatform{};
    gFake.now = start;
    gFake.stepPerQuery = stepPerQuery;
    gFake.defaultQuestionAnswer = ANSWER_YES;
    gUi = UiSeam{.messageBox = FakeMessageBox, .drawText = FakeDrawText};
    gClock = ClockSeam{.tickCount = FakeTickCount, .sleep = FakeSleep};
    gUsbLock =
        LockSeam{.initialise = FakeLockInit, .enter = FakeLockEnter, .leave = FakeLockLeave, .remove = FakeLockDelete};
}

uint32_t FakeClockPeek() { return gFake.now; }
int FakeLockDepth() { return gFake.lockDepth; }

std::vector<FakeEvent> FakeBoxes() { return EventsOf(FakeEvent::Box); }
std::vector<FakeEvent> FakeTexts() { return EventsOf(FakeEvent::Text); }

size_t FakeErrorBoxCount() {
    size_t n = 0;
    for (const auto& e : gFake.events)
        if (e.kind == FakeEvent::Box && e.text == L"Error" && e.caption == L" " && e.style == BOX_ICONWARNING) ++n;
    return n;
}
