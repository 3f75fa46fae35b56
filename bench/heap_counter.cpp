// Replaces the C heap functions with counting wrappers around glibc's own
// allocator. Linked into the benchmark program only.
#include "bench/heap_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<uint64_t> gAllocations{0};
std::atomic<uint64_t> gBytes{0};

void Count(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gBytes.fetch_add(size, std::memory_order_relaxed);
}
}  // namespace

HeapCount HeapCountNow() {
    return HeapCount{gAllocations.load(std::memory_order_relaxed), gBytes.load(std::memory_order_relaxed)};
}

extern "C" {

void* malloc(size_t size) noexcept {
    Count(size);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    Count(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) noexcept {
    Count(size);
    return __libc_realloc(pointer, size);
}

void free(void* pointer) noexcept { __libc_free(pointer); }

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    Count(size);
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
    Count(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    Count(size);
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *out = pointer;
    return 0;
}

}  // extern "C"
