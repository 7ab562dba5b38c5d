// The slice-folder path: listing a folder, the first picture's header, and decoding each slice
// through Qt's readers. The first byte picks the picture's extension; the rest is the picture,
// saved as two slices (a second copy cut short by the first byte's value).

#include "readerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const char* const extensions[] = {"png", "bmp", "ppm", "pgm",
                                             "gif", "jpg", "xpm", "pbm"};
    const QString folder = fuzzFolder() + "/slices";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString ext = extensions[data[0] % 8];
    writeBytes(folder + "/slice1." + ext, data + 1, size - 1);
    writeBytes(folder + "/slice2." + ext, data + 1, (size - 1) - (size - 1) * (data[0] >> 3) / 64);
    fuzzReader(folder);
    return 0;
}
