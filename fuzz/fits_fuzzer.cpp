// The FITS reader over cfitsio: its header checks, the HDUs picked (the only cube, by number or
// by name, from the input's length), plain and gzip files.

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool gzipped = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    const QString path = fuzzFolder() + (gzipped ? "/input.fits.gz" : "/input.fits");
    writeBytes(path, data, size);
    InputSelection selection;
    const char* picks[] = {"", "1", "SCI"};
    selection.dataset = picks[size % 3];
    fuzzReader(path, selection);
    return 0;
}
