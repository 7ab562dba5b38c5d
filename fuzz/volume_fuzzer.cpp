// The .vol decoder: header parse and read, sample read, and the picture name check.

#include "fuzzsupport.h"
#include "volumefile.h"

#include <cstring>

using namespace volumeLayout;

namespace {
// Small enough that no input makes the target allocate more than this for samples.
const std::int64_t memoryLimit = std::int64_t(64) << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    VolumeHeader parsed;
    const std::string parseError = parseVolumeHeader(data, size, &parsed);
    // Safe: not absolute and no ".." component.
    const std::string& name = parsed.name;
    FUZZ_CHECK(isSafePictureName(name) == (name.compare(0, 1, "/") != 0 &&
                                           ("/" + name + "/").find("/../") == std::string::npos));

    FileHandle file = openBytes(data, size);
    FUZZ_CHECK(file);
    VolumeHeader header;
    const std::string error = readVolumeHeader(file.get(), &header);
    // The stream and the memory readers must agree.
    FUZZ_CHECK(error == parseError);
    if (!error.empty())
        return 0;
    FUZZ_CHECK(header.name == parsed.name && header.size == parsed.size);
    FUZZ_CHECK(header.version == version && header.components == components &&
               header.componentType == componentType);
    FUZZ_CHECK(header.size > 0 && header.size <= maxSize);
    FUZZ_CHECK(header.name.size() <= std::size_t(nameLength));
    FUZZ_CHECK(std::memchr(header.name.data(), 0, header.name.size()) == nullptr);

    // Encoding the parsed header gives back the bytes of every field it holds; a name that
    // fills the whole field loses its last byte to the NUL.
    const std::vector<unsigned char> encoded = encodeVolumeHeader(header);
    FUZZ_CHECK(encoded.size() == std::size_t(headerSize));
    FUZZ_CHECK(std::memcmp(encoded.data(), data, nameOffset) == 0);
    FUZZ_CHECK(std::memcmp(encoded.data() + sizeOffset, data + sizeOffset, 12) == 0);
    const std::size_t kept = std::min(header.name.size(), std::size_t(nameLength - 1));
    FUZZ_CHECK(std::memcmp(encoded.data() + nameOffset, data + nameOffset, kept) == 0);
    FUZZ_CHECK(encoded[std::size_t(nameOffset) + kept] == 0);
    VolumeHeader again;
    FUZZ_CHECK(parseVolumeHeader(encoded.data(), encoded.size(), &again).empty());
    FUZZ_CHECK(again.size == header.size && again.name == header.name.substr(0, kept));

    std::unique_ptr<unsigned char[]> samples;
    if (!readVolumeSamples(file.get(), header.size, &samples, memoryLimit).empty())
        return 0;
    // Success means the input held every sample, and they are the bytes after the header.
    const std::uint64_t count = volumeSampleBytes(header.size);
    FUZZ_CHECK(samples && count <= size - std::size_t(headerSize));
    FUZZ_CHECK(std::memcmp(samples.get(), data + headerSize, std::size_t(count)) == 0);
    return 0;
}
