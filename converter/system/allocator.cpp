#include "allocator.h"

#include <malloc.h>

void keepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}
