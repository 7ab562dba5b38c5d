// fixture-file FORMAT PATH W,H,D R,G,B: writes an input of W x H x D samples of one colour for
// the shell tests, with the writers the reader tests use: FORMAT is nifti (RGB24) or tiff (an
// RGB page a slice). Exit status 1 when it cannot.

#include "niftifiles.h"
#include "tifffiles.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {
bool readTriple(const char* text, int* values) {
    return std::sscanf(text, "%d,%d,%d", &values[0], &values[1], &values[2]) == 3;
}

std::string filled(long long samples, const int* rgb) {
    std::string bytes;
    for (long long i = 0; i < samples; ++i)
        for (int c = 0; c < 3; ++c)
            bytes += char(rgb[c]);
    return bytes;
}
} // namespace

int main(int argc, char** argv) {
    int sizes[3], rgb[3];
    if (argc != 5 || !readTriple(argv[3], sizes) || !readTriple(argv[4], rgb)) {
        std::fprintf(stderr, "usage: fixture-file nifti|tiff PATH W,H,D R,G,B\n");
        return 2;
    }
    const std::string format = argv[1];
    if (format == "nifti") {
        NiftiFile file;
        file.datatype = DT_RGB24;
        file.dims = {sizes[0], sizes[1], sizes[2]};
        std::fill_n(file.spacing, 3, 1.0); // cubic samples: packed as they are
        const std::string failure =
            writeNifti(argv[2], file, filled(1LL * sizes[0] * sizes[1] * sizes[2], rgb));
        if (!failure.empty())
            std::fprintf(stderr, "%s\n", failure.c_str());
        return failure.empty() ? 0 : 1;
    }
    if (format == "tiff") {
        TiffPage page;
        page.width = sizes[0];
        page.height = sizes[1];
        page.channels = 3;
        page.photometric = PHOTOMETRIC_RGB;
        page.samples = filled(1LL * sizes[0] * sizes[1], rgb);
        const std::string failure =
            writeTiff(argv[2], std::vector<TiffPage>(std::size_t(sizes[2]), page));
        if (!failure.empty())
            std::fprintf(stderr, "%s\n", failure.c_str());
        return failure.empty() ? 0 : 1;
    }
    std::fprintf(stderr, "fixture-file: unknown format %s\n", argv[1]);
    return 2;
}
