// The .npz reader: the zip directory, the pick of an array, and the .npy header of the member.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.npz";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
