#include "helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
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

std::string inputPath(const std::string& name) {
    return std::string(inputFolder) + "/" + name;
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

FileHandle openFile(const char* path, const char* mode) {
    if (mode[0] != 'r')
        return FileHandle(std::fopen(path, mode));
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting forever; the type is
    // then checked on the open descriptor, so nothing can swap the file in between.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FileHandle();
    struct stat info;
    std::FILE* file = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        file = fdopen(fd, mode);
    if (!file)
        ::close(fd);
    return FileHandle(file);
}

std::int64_t availableMemory() {
    FileHandle file = openFile("/proc/meminfo", "r");
    char line[256];
    while (file && std::fgets(line, sizeof line, file.get())) {
        std::int64_t kib = 0;
        if (std::sscanf(line, "MemAvailable: %" SCNd64 " kB", &kib) == 1)
            return kib * 1024;
    }
    return -1;
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
