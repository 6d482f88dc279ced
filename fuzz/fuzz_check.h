// Failure report for the fuzz targets: print what broke and stop hard, so
// both a fuzzing engine and the replay test see it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                        \
    do {                                                             \
        if (!(cond)) {                                               \
            std::fprintf(stderr, "FAULT %s:%d: ", __FILE__, __LINE__); \
            std::fprintf(stderr, __VA_ARGS__);                       \
            std::fprintf(stderr, "\n");                              \
            std::abort();                                            \
        }                                                            \
    } while (0)
