// Identical boxes in a row (a wait whose every poll failed) are written
// once, with their count, when something else comes. A question is written
// at once, never held.
#pragma once

#include "runlog/run_writer.h"

// Where a box goes once it is no longer held: every writer in use.
using BoxWrite = void (*)(const BoxShown& box);

// Forgets a held box; boxes go to `write` from now on.
void RepeatedBoxesStart(BoxWrite write);
// Holds `box`, counts it as one more of the box held, or writes it.
void RepeatedBoxesTake(const BoxShown& box);
// Writes the box held, if any: before anything else goes to the writers.
void RepeatedBoxesFlush();
