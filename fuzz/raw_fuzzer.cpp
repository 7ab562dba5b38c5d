// The .raw float picture reader.

#include "fuzzsupport.h"
#include "image.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FileHandle file = openBytes(data, size);
    FUZZ_CHECK(file);
    Image image;
    if (!image.readRaw(file.get())) {
        FUZZ_CHECK(image.width == 0 && image.height == 0 && image.channels == 0 &&
                   image.pixels.empty());
        return 0;
    }
    FUZZ_CHECK(image.width > 0 && image.height > 0 && image.channels > 0);
    const std::size_t row = std::size_t(image.width) * std::size_t(image.channels);
    FUZZ_CHECK(image.pixels.size() == row * std::size_t(image.height));
    FUZZ_CHECK(12 + image.pixels.size() * sizeof(float) <= size);
    // The record's rows are the file's rows, bottom first.
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* fileRow = data + 12 + std::size_t(image.height - 1 - y) * row * 4;
        FUZZ_CHECK(std::memcmp(image.pixels.data() + std::size_t(y) * row, fileRow, row * 4) == 0);
    }
    return 0;
}
