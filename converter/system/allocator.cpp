#include "allocator.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14
#endif

void keepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

void populateForWriting(void* start, std::size_t bytes) {
    // The pages at either end hold bytes of the range, so they are mapped.
    static const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = from / page * page;
    madvise(reinterpret_cast<void*>(first), from - first + bytes, MADV_POPULATE_WRITE);
}
