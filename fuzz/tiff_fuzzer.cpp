// The TIFF reader: libtiff's pages of any sample type, the RGBA reader, ImageJ and OME
// descriptions.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/input.tif";
    writeBytes(path, data, size);
    fuzzReader(path);
    return 0;
}
