#pragma once

// Shared by the fuzz targets: a read stream over the input bytes, and the check that turns a
// broken invariant into a finding.

#include "files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A stream that reads exactly the input. Older glibc refuse fmemopen of 0 bytes, so an empty
// input becomes a one-byte buffer opened "w+", which starts empty.
inline FileHandle openBytes(const std::uint8_t* data, std::size_t size) {
    static char empty[1];
    if (size == 0)
        return FileHandle(fmemopen(empty, sizeof empty, "w+"));
    return FileHandle(fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
}

// Aborts, which libFuzzer reports as a crash, so the input is kept.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
