// The MGH reader: its header checks and the frames of plain and gzip files, with a frame picked
// from the input's length (none, the first or the second).

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.mgh";
    writeBytes(path, data, size);
    fuzzReader(path, InputSelection(-1, int(size % 3) - 1));
    return 0;
}
