#include "helpers.h"

#include <cstdarg>
#include <cstring>

std::string formatString(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer);
}

long remainingBytes(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end - here;
}

std::uint32_t littleEndianWord(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

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
