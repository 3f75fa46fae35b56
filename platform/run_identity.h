// What ties a run's lines together in a log that several stations share:
// the run's id and the computer it ran on.
#pragma once

#include <string>

// A new run's id: 128 bits from the system's random source, in 32
// lowercase hexadecimal digits; empty when the source gives none.
std::string NewRunId();
// The computer's name (UTF-8), or empty when it cannot be read.
std::string HostName();
