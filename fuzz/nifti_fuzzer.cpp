// The NIfTI reader: header checks (through nifti_clib) and the slice loop over plain and gzip
// voxel data.

#include "niftifile.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.nii";
    writeBytes(path, data, size);
    fuzzReader(path, [&](TypedSource* source) { return openNiftiSource(path, -1, source); });
    return 0;
}
