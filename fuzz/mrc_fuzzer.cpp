// The MRC reader: its header checks, the modes (4-bit rows and float16 included), volume stacks
// with a volume picked from the input's length (none, the first or the second).

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.mrc";
    writeBytes(path, data, size);
    fuzzReader(path, InputSelection(-1, int(size % 3) - 1));
    return 0;
}
