#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// printf-style formatting into a std::string of at most 1023 characters.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One little-endian 32-bit value from a binary stream; 0 when fewer than 4 bytes remain.
std::int32_t readInt(std::FILE* file);
float readFloat(std::FILE* file);
