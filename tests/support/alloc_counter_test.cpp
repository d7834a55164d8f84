// The malloc interposer behind support/AllocCounter.h (one per test binary).
#include "support/AllocCounter.h"

#include <cstddef>

namespace pt::test {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
} // namespace pt::test

#ifndef PT_UNDER_SANITIZER
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
    if (pt::test::gCounting.load(std::memory_order_relaxed))
        pt::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    if (pt::test::gCounting.load(std::memory_order_relaxed))
        pt::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    if (pt::test::gCounting.load(std::memory_order_relaxed))
        pt::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) {
    __libc_free(p);
}
}
#endif
