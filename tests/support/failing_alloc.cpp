#include "support/failing_alloc.h"

#include <atomic>
#include <cstddef>

extern "C" void* __real_malloc(size_t);
extern "C" void* __real_calloc(size_t, size_t);
extern "C" void* __real_realloc(void*, size_t);

namespace {

// Shared by every thread the library starts: a hook the wrapped calls see.
std::atomic<long> left{-1};

bool fails() { return left.load() >= 0 && left.fetch_sub(1) <= 0; }

}  // namespace

long fail_allocation(long count) { return left.exchange(count); }

extern "C" void* __wrap_malloc(size_t n) { return fails() ? nullptr : __real_malloc(n); }
extern "C" void* __wrap_calloc(size_t k, size_t n) { return fails() ? nullptr : __real_calloc(k, n); }
extern "C" void* __wrap_realloc(void* p, size_t n) { return fails() ? nullptr : __real_realloc(p, n); }
