// Chunk decoding: the first byte picks the codec, the next two the chunk's decoded size, the
// rest is the chunk. A decode must fill exactly that size or refuse, and never write past it.

#include "codecs/chunkcodecs.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const ChunkCodec codecs[] = {ChunkCodec::Raw,  ChunkCodec::Blosc, ChunkCodec::Zstd,
                                 ChunkCodec::Zlib, ChunkCodec::Gzip,  ChunkCodec::Lz4};
    const ChunkCodec codec = codecs[data[0] % 6];
    const std::size_t expected = std::size_t(data[1]) | std::size_t(data[2]) << 8;
    // An exactly sized heap buffer, so that the sanitizer sees any write past it.
    std::vector<unsigned char> out(expected + 1);
    out.resize(expected);
    out.shrink_to_fit();
    (void)decodeChunk(codec, data + 3, size - 3, out.data(), expected);
    crc32c(data, size);
    return 0;
}
