// Checks inside fuzz targets: a failed check prints what failed and aborts, which libFuzzer
// reports as a crash and saves the input for.
#ifndef FUZZ_FUZZ_CHECK_H
#define FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_FAIL(message)                                                          \
    do {                                                                            \
        std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, std::string(message).c_str()); \
        std::abort();                                                               \
    } while (0)

#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) FUZZ_FAIL("check failed: " #condition); \
    } while (0)

#endif
