// The USB library's handle of an open device, as the job record keeps it.
#pragma once

#include <cstdint>

// 32 bits in the x86 build, pointer-sized in the x86-64 build, where a
// 64-bit library's handle need not fit in 32 bits.
using DeviceHandle = intptr_t;
constexpr DeviceHandle NO_DEVICE = -1;
