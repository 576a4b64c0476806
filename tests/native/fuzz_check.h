// The fuzz targets' invariant check: a broken invariant aborts, so libFuzzer keeps the input.
#ifndef TESSALY_TESTS_FUZZ_CHECK_H
#define TESSALY_TESTS_FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(cond, msg)                                                 \
    do {                                                                      \
        if (!(cond)) {                                                        \
            fprintf(stderr, "invariant broken: %s (%s)\n", msg, #cond);       \
            abort();                                                          \
        }                                                                     \
    } while (0)

#endif
