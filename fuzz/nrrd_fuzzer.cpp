// The NRRD reader: teem's header parsing with the checks before it, raw and gzip bodies, a detached
// data file (data.raw lies beside the input).

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.nrrd";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
