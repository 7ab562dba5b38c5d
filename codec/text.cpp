#include "text.h"

#include <cstdarg>
#include <cstdio>

std::string formatString(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer);
}

std::string printableText(const std::string& text) {
    std::string printable;
    printable.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            printable += formatString("\\x%02x", byte);
        else
            printable += c;
    }
    return printable;
}
