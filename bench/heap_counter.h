// Counts every heap allocation the process makes: the benchmark program
// replaces malloc and its relatives (operator new, stdio buffers and the
// standard containers all allocate through them).
#pragma once

#include <cstdint>

struct HeapCount {
    uint64_t allocations;  // calls that asked for memory (realloc included)
    uint64_t bytes;        // bytes asked for
};

HeapCount HeapCountNow();

inline HeapCount HeapCountSince(const HeapCount& start) {
    const HeapCount now = HeapCountNow();
    return HeapCount{now.allocations - start.allocations, now.bytes - start.bytes};
}
