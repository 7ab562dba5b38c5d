// The NIfTI reader: header checks (through nifti_clib) and the slice loop over plain and gzip
// voxel data.

#include "niftifile.h"
#include "typedfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput("input.nii", data, size);
    TypedSource source;
    const std::string failure = openNiftiSource(path, &source);
    checkSource(path, failure, source);
    return 0;
}
