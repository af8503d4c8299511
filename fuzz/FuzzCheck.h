#pragma once
// Shared by the fuzz targets: a check that names the broken invariant and stops the run, so
// libFuzzer keeps the input that broke it.

#include <cstdio>

#define FUZZ_REQUIRE(aCondition)                                                                                       \
    do {                                                                                                               \
        if (!(aCondition)) {                                                                                           \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #aCondition, __FILE__, __LINE__);                   \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (0)
