// --show-log FILE: a run log (--log, or the window program's support log)
// read back for a person, each run in a few lines, newest last.
#pragma once

#include <cstdint>

// Prints the runs of the log at `path` (a UTF-8 name); `last` > 0 keeps only
// the last runs. `json`: each run's result line as it is. Returns the exit
// code: 0, or 2 when the file cannot be read.
int ShowLog(const char* path, uint32_t last, bool json);
