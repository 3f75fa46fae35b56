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

// True when the read now being handled is the ShortRead fault's: by call
// number, or, when the bus counts packets, any read after packet N and
// before the next one.
bool SimShortReadHere();

// True when the half page that the write now being handled stores is the
// FlippedBit fault's.
bool SimFlippedBitHere();
