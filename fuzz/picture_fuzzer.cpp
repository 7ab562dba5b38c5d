// The reference picture path: the PNG structure check, then DevIL's PNG reader, as the viewer
// loads input/NAME.png.

#include "fuzzsupport.h"
#include "image.h"

#include <IL/il.h>
#include <zlib.h>

#include <vector>

namespace {
std::uint32_t bigEndianWord(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

// Rewrites the CRC of every whole chunk after the signature. libpng refuses a critical chunk
// with a wrong CRC before decoding anything, so without this nearly every mutation would stop
// there; the CRC check itself is not worth the fuzzer's time.
void fixCrcs(std::vector<std::uint8_t>* png) {
    std::uint8_t* bytes = png->data();
    const std::size_t size = png->size();
    std::size_t at = 8;
    while (size - at >= 12) {
        const std::uint32_t length = bigEndianWord(bytes + at);
        if (length > size - at - 12)
            return;
        const std::uint32_t crc = std::uint32_t(crc32(0, bytes + at + 4, length + 4));
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + length + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
        at += 12 + std::size_t(length);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> png(data, data + size);
    if (size >= 8)
        fixCrcs(&png);
    Image image;
    if (!image.decodeWithDevIL(png.data(), png.size(), IL_PNG)) {
        FUZZ_CHECK(image.width == 0 && image.pixels.empty());
        return 0;
    }
    FUZZ_CHECK(isWholePng(png.data(), png.size()));
    FUZZ_CHECK(pictureSizeFits(image.width, image.height));
    FUZZ_CHECK(image.channels >= 1 && image.channels <= 4);
    FUZZ_CHECK(image.pixels.size() ==
               std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.channels));
    for (float value : image.pixels)
        FUZZ_CHECK(value >= 0.0f && value <= 1.0f);
    return 0;
}
