#include "systemmemory.h"

#include "files.h"

#include <cinttypes>

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
