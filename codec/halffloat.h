#pragma once

// IEEE 754 binary16 ("half", NumPy's float16) widened to binary32. Every half value, subnormals,
// infinities and NaN included, has an exact float, so the conversion loses nothing.

#include <cstddef>
#include <cstdint>

// The float that the 16 bits of a half stand for.
float halfToFloat(std::uint16_t half);

// Widens count halves in host byte order into out (which may not overlap them).
void halvesToFloats(const std::uint16_t* halves, std::size_t count, float* out);
