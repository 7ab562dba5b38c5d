// The NIfTI reader: its own header checks, then the slice loop over plain and gzip voxel data,
// with a volume picked from the input's length (none, the first or the second), so that files
// of several volumes and vector channels are read too.

#include "nifti.h"
#include "formattable.h"
#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.nii";
    const int volume = int(size % 3) - 1;
    writeBytes(path, data, size);
    fuzzReader(path, [&](TypedSource* source) {
        return openPackInput({path}, {-1, volume}, source);
    });
    return 0;
}
