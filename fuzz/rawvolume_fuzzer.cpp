// The raw RGB volume reader: N from the file's length, and its slices.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.raw";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
