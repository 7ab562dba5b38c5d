#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// The 16-, 32- or 64-bit value stored little-endian at bytes, assembled byte by byte so the
// files read the same on any host byte order. Inline: readers call them for every record.
inline std::uint16_t littleEndianHalf(const unsigned char* bytes) {
    return std::uint16_t(bytes[0] | bytes[1] << 8);
}
inline std::uint32_t littleEndianWord(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}
inline std::uint64_t littleEndianLong(const unsigned char* bytes) {
    return littleEndianWord(bytes) | std::uint64_t(littleEndianWord(bytes + 4)) << 32;
}
std::int32_t littleEndianInt(const unsigned char* bytes);

// One little-endian 32-bit value from a binary stream; 0 when fewer than 4 bytes remain.
std::int32_t readInt(std::FILE* file);
float readFloat(std::FILE* file);

// A value of type T stored at bytes + offset in the host's byte order, or in the other one when
// swap: the fields of a header whose byte order the file tells.
template <typename T> T fieldAt(const unsigned char* bytes, std::size_t offset, bool swap) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, bytes + offset, sizeof raw);
    if (swap)
        std::reverse(raw, raw + sizeof raw);
    T value;
    std::memcpy(&value, raw, sizeof value);
    return value;
}

// Whether the host stores the low byte first.
constexpr bool hostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
