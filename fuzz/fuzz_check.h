// What the fuzz targets use to report a broken property: abort, so both
// libFuzzer and the corpus replay see a crash with the reason on stderr.
#ifndef VOREX_FUZZ_CHECK_H
#define VOREX_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define VOREX_FUZZ_REQUIRE(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
