// Counting heap allocations in the test binary: malloc, calloc and realloc are interposed
// (tests/support/alloc_counter_test.cpp) and count while counting is on. Sanitizer runtimes
// interpose the same functions, so under a sanitizer nothing is counted and tests that
// need the counter skip themselves (PT_UNDER_SANITIZER).
#pragma once

#include <atomic>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define PT_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PT_UNDER_SANITIZER 1
#endif

namespace pt::test {

extern std::atomic<bool> gCounting;
extern std::atomic<long> gAllocations;

// Allocations made by `f`.
template <typename F> long AllocationsOf(F f) {
    gAllocations = 0;
    gCounting = true;
    f();
    gCounting = false;
    return gAllocations.load();
}

} // namespace pt::test
