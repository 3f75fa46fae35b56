#include "platform/seams.h"

#include <cstdio>

namespace {
int NoBox(const wchar_t*, const wchar_t*, unsigned) { return 0; }
void NoDraw(int, int, const wchar_t*, int) {}
// Advances on every query so that a bounded wait still ends.
uint32_t NoTicks() {
    static uint32_t ticks = 0;
    return ++ticks;
}
void NoSleep(uint32_t) {}
void NoLock() {}
bool NeverStop() { return false; }
void StandardOutputLine(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
}
}  // namespace

// Inert until a platform installs itself; a missing install shows no box
// and never blocks, instead of calling through a null pointer.
UiSeam gUi = {.messageBox = NoBox, .drawText = NoDraw};
ClockSeam gClock = {.tickCount = NoTicks, .sleep = NoSleep};
LockSeam gUsbLock = {.initialise = NoLock, .enter = NoLock, .leave = NoLock, .remove = NoLock};
// Standard output itself unless a front end takes the line over.
OutputSeam gOutput = {StandardOutputLine};
// The window program has no way to ask for a stop: its runs always end.
StopSeam gStop = {NeverStop};

void ShowErrorBox() { gUi.messageBox(L"Error", L" ", BOX_OK | BOX_ICONWARNING); }
