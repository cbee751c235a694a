#include "support/failing_alloc.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

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

// new takes its memory from the wrapped malloc, so that the library's
// containers fail too: with a bad_alloc, which no call may let out.
void* operator new(size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
