#include "memory.h"

#include "files.h"

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

long procStatusKiB(const char* key) {
    FileHandle file = openFile("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, file.get()))
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':')
            return std::atol(line + keyLength + 1);
    return -1;
}

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

bool resetPeakRss() {
    FileHandle file = openFile("/proc/self/clear_refs", "w");
    return file && std::fputs("5", file.get()) >= 0;
}

double kibToMb(long kib) {
    return double(kib) * 1024.0 / 1e6;
}
