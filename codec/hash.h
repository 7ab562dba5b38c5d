#pragma once

#include <cstdint>

// An integer avalanche hash (lowbias32): every bit of x moves every bit of the result, so that
// noise made from it is the same on every machine and shows no pattern.
inline std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
