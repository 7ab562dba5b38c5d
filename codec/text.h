#pragma once

#include <string>

// printf-style formatting into a std::string of at most 1023 characters.
[[nodiscard]] std::string formatString(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// text with its control characters (bytes below 0x20, and 0x7f) written as \xHH, so that text
// from a file can be printed without driving the terminal.
[[nodiscard]] std::string printableText(const std::string& text);
