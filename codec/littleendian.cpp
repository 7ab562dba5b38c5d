#include "littleendian.h"

#include <cstring>

std::int32_t littleEndianInt(const unsigned char* bytes) {
    const std::uint32_t word = littleEndianWord(bytes);
    std::int32_t value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

namespace {
std::uint32_t readWord(std::FILE* file) {
    unsigned char bytes[4];
    if (std::fread(bytes, 4, 1, file) != 1)
        return 0;
    return littleEndianWord(bytes);
}
} // namespace

std::int32_t readInt(std::FILE* file) {
    unsigned char bytes[4] = {};
    if (std::fread(bytes, 4, 1, file) != 1)
        return 0;
    return littleEndianInt(bytes);
}

float readFloat(std::FILE* file) {
    std::uint32_t word = readWord(file);
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}
