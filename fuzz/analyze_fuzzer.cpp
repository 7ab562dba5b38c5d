// NIfTI pairs and Analyze 7.5: the input's first 348 bytes are the .hdr and the rest the .img,
// with a volume picked from the input's length (none, the first or the second).

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t header = size < 348 ? size : 348;
    writeBytes(fuzzFolder() + "/input.hdr", data, header);
    writeBytes(fuzzFolder() + "/input.img", data + header, size - header);
    fuzzReader(fuzzFolder() + "/input.hdr", InputSelection(-1, int(size % 3) - 1));
    return 0;
}
