// The VTK legacy reader: its header lines, binary and ASCII samples, colour scalars.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.vtk";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
