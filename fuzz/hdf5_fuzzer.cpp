// The HDF5 path: the parent's decoding of what a child sends, on the input's bytes as they
// come; then the input as a file, listed, laid out and read through libhdf5 in contained
// children (not instrumented, and known to abort on some files: the children meet that, and
// the parent must refuse it in one line).

#include "hdf5/hdf5file.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Hdf5Contents contents;
    decodeHdf5Contents(std::vector<unsigned char>(data, data + size), &contents);
    const QString path = fuzzFolder() + "/input.h5";
    writeBytes(path, data, size);
    // The layouts read with and without a dataset named.
    fuzzReader(path);
    InputSelection selection(-1, 0);
    selection.dataset = "/data";
    fuzzReader(path, selection);
    return 0;
}
