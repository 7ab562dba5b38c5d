#pragma once

#include <cstdint>
#include <cstdio>

// The 32-bit value stored little-endian in bytes[0..3], assembled byte by byte so the files
// read the same on any host byte order.
std::uint32_t littleEndianWord(const unsigned char* bytes);
std::int32_t littleEndianInt(const unsigned char* bytes);

// One little-endian 32-bit value from a binary stream; 0 when fewer than 4 bytes remain.
std::int32_t readInt(std::FILE* file);
float readFloat(std::FILE* file);
