// A broken promise names itself, then aborts so the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(cond)                                                          \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                           \
        }                                                                           \
    } while (0)
