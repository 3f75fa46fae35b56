// Output that nobody reads any more (a closed pipe, a full disk) is not a
// reason to stop an update half-way: SIGPIPE is ignored, and a failed write
// is noted once on standard error while the update goes on to its end and
// its exit code.
#pragma once

#include <cstdio>

// Flushes `out`; on a write error says so once on standard error (naming
// standard output or the file) and clears the error.
void FlushChecked(std::FILE* out);
