// DICOM's RLE frames, decoded by our own code: on any bytes the decoder writes only the frame it
// was given room for and reads nothing past the fragment. The input's first byte picks the
// samples' layout, its second the pixel count, and the rest is the fragment.

#include "dicom/dicomrle.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int layouts[][2] = {{1, 1}, {1, 2}, {3, 1}, {3, 2}, {1, 4}};
    const auto& [channels, sampleBytes] = layouts[data[0] % 5];
    const std::size_t count = std::size_t(data[1]) + 1;
    std::vector<char> out(count * std::size_t(channels) * std::size_t(sampleBytes));
    // A copy of exactly the fragment's size, so that ASan sees any read past it.
    const std::vector<unsigned char> fragment(data + 2, data + size);
    const std::string failure =
        decodeRleFrame(fragment.data(), fragment.size(), count, channels, sampleBytes, out.data());
    FUZZ_CHECK(failure.empty() || failure.rfind("damaged DICOM RLE data: ", 0) == 0);
    return 0;
}
