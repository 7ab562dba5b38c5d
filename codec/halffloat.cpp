#include "halffloat.h"

#include <cstring>

float halfToFloat(std::uint16_t half) {
    const std::uint32_t sign = std::uint32_t(half & 0x8000) << 16;
    std::uint32_t exponent = (half >> 10) & 0x1f, mantissa = half & 0x3ff;
    std::uint32_t bits;
    if (exponent == 0x1f) { // infinity or NaN, the payload kept
        bits = sign | 0x7f800000 | mantissa << 13;
    } else if (exponent != 0) {
        bits = sign | (exponent + 112) << 23 | mantissa << 13;
    } else if (mantissa == 0) {
        bits = sign;
    } else { // subnormal: normalised, since a float's range holds it
        exponent = 113;
        while (!(mantissa & 0x400)) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | exponent << 23 | (mantissa & 0x3ff) << 13;
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void halvesToFloats(const std::uint16_t* halves, std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = halfToFloat(halves[i]);
}
