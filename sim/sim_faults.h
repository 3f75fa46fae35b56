// The simulated bus's rule checks and the faults that act on reads and on
// stored data; used by the library operations in sim_device.cpp.
#pragma once

#include <cstdint>

// Counts a call that breaks the library's rules and reports it. Always true,
// so that a caller can write `if (bad && SimViolation("...")) fail`.
bool SimViolation(const char* what);

// True when the call now being handled is over the bus's call limit (and
// reports it as a violation).
bool SimOverCallLimit();

struct SimDevice;

// True when the read of `d` now being handled is the ShortRead fault's: the
// bus's by call number, or, when the bus counts packets, any read after
// packet N and before the next one; or `d`'s own, any read after its packet
// N and before its next.
bool SimShortReadHere(SimDevice* d);

// True when the half page that the write to `d` now being handled stores is
// the FlippedBit fault's (the bus's or `d`'s own). Both count the fault's act.
bool SimFlippedBitHere(SimDevice* d);
