// The .npy reader: header, dtype, shape and samples.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.npy";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
