// Preloaded into the converter by hdf5_test: libhdf5's H5Fopen or its reads of samples (H5Dread,
// H5Dread_chunk) misbehaving as they may on a damaged file. TESSARY_TEST_HDF5 is "WHERE:HOW",
// WHERE "open" or "read" (every call), or "read2" (a process's second read and later), HOW "segv",
// "abort", "allocate" or "spin"; any other call, and every call while it is unset, goes on to
// libhdf5 unchanged. "forbid:NAME" aborts a process that opens any file whose path holds NAME
// instead.

#include <hdf5.h>

#include <dlfcn.h>
#include <fcntl.h>

#include <cstdarg>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// Where each block allocated goes: an allocation nobody can see may be dropped by the compiler,
// and with it the whole loop.
char* volatile hdf5FaultsBlock = nullptr;

namespace {
void misbehaveAt(const char* where, int call = 1) {
    const char* test = std::getenv("TESSARY_TEST_HDF5");
    const std::size_t length = std::strlen(where);
    if (!test || std::strncmp(test, where, length) != 0)
        return;
    const char* rest = test + length;
    const int from = *rest >= '1' && *rest <= '9' ? *rest++ - '0' : 1;
    if (*rest != ':' || call < from)
        return;
    const std::string how = rest + 1;
    if (how == "segv") { // a store to a page never mapped: a fault, not a signal sent
        volatile std::uintptr_t address = 16;
        *reinterpret_cast<volatile char*>(address) = 1;
    } else if (how == "abort") { // as libhdf5's own assertions end
        std::abort();
    } else if (how == "allocate") {
        const std::size_t chunk = std::size_t(16) << 20;
        for (;;) {
            char* block = new char[chunk];
            std::memset(block, 1, chunk);
            hdf5FaultsBlock = block;
        }
    } else if (how == "spin") {
        for (volatile unsigned i = 0;; i = i + 1) { // unsigned: wrapping is no overflow
        }
    }
}

template <typename Function> Function library(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" hid_t H5Fopen(const char* name, unsigned flags, hid_t access) {
    misbehaveAt("open");
    static const auto open = library<hid_t (*)(const char*, unsigned, hid_t)>("H5Fopen");
    return open(name, flags, access);
}

namespace {
int reads = 0; // each child counts its own: the converter reads nothing itself
} // namespace

extern "C" herr_t H5Dread(hid_t dataset, hid_t memoryType, hid_t memorySpace, hid_t fileSpace,
                          hid_t transfer, void* samples) {
    misbehaveAt("read", ++reads);
    static const auto read =
        library<herr_t (*)(hid_t, hid_t, hid_t, hid_t, hid_t, void*)>("H5Dread");
    return read(dataset, memoryType, memorySpace, fileSpace, transfer, samples);
}

extern "C" herr_t H5Dread_chunk(hid_t dataset, hid_t transfer, const hsize_t* offset,
                                uint32_t* filters, void* stored) {
    misbehaveAt("read", ++reads);
    static const auto read =
        library<herr_t (*)(hid_t, hid_t, const hsize_t*, uint32_t*, void*)>("H5Dread_chunk");
    return read(dataset, transfer, offset, filters, stored);
}

namespace {
using Open = int (*)(const char*, int, ...);

void forbidOpen(const char* path) {
    const char* test = std::getenv("TESSARY_TEST_HDF5");
    if (test && std::strncmp(test, "forbid:", 7) == 0 && std::strstr(path, test + 7))
        std::abort();
}

int openChecked(Open open, const char* path, int flags, va_list rest) {
    forbidOpen(path);
    const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(rest, mode_t) : 0;
    return open(path, flags, mode);
}
} // namespace

extern "C" int open(const char* path, int flags, ...) {
    static const auto next = library<Open>("open");
    va_list rest;
    va_start(rest, flags);
    const int opened = openChecked(next, path, flags, rest);
    va_end(rest);
    return opened;
}

extern "C" int open64(const char* path, int flags, ...) {
    static const auto next = library<Open>("open64");
    va_list rest;
    va_start(rest, flags);
    const int opened = openChecked(next, path, flags, rest);
    va_end(rest);
    return opened;
}
