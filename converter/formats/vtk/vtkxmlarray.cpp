#include "vtk/vtkxmlarray.h"

#include "codecs/chunkcodecs.h"
#include "inputfile.h"
#include "text.h"

#include <lz4.h>
#include <lzma.h>

#include <algorithm>
#include <climits>
#include <cstring>

bool VtiStore::read(std::uint64_t at, std::size_t size, void* out) const {
    if (at > length || size > length - at)
        return false;
    if (memory) {
        std::memcpy(out, memory->data() + at, size);
        return true;
    }
    return readExactly(fileno(file->get()), start + at, size, out);
}

std::string VtiArray::readWords(std::uint64_t at, std::size_t count, std::uint64_t* words) const {
    std::vector<unsigned char> bytes(count * std::size_t(wordBytes));
    if (!store.read(at, bytes.size(), bytes.data()))
        return "file too short: the array's header is cut short";
    for (std::size_t w = 0; w < count; ++w) {
        words[w] = 0;
        for (int i = 0; i < wordBytes; ++i) {
            const int b = bigEndian ? i : wordBytes - 1 - i;
            words[w] = words[w] << 8 | bytes[w * std::size_t(wordBytes) + std::size_t(b)];
        }
    }
    return std::string();
}

std::string VtiArray::open(const VtiStore& from, VtiCompressor c, int word, bool big,
                           std::uint64_t samples) {
    store = from;
    compressor = c;
    wordBytes = word;
    bigEndian = big;
    sampleBytes = samples;
    if (compressor != VtiCompressor::None)
        return openBlocks();
    std::uint64_t length = 0;
    std::string failure = readWords(0, 1, &length);
    if (!failure.empty())
        return failure;
    if (length != sampleBytes)
        return formatString("bad VTK XML array: its header gives %llu bytes, not the %llu of the "
                            "samples",
                            (unsigned long long)length, (unsigned long long)sampleBytes);
    if (store.length - std::uint64_t(wordBytes) < sampleBytes)
        return formatString("file too short: the array holds %llu of its %llu bytes",
                            (unsigned long long)(store.length - std::uint64_t(wordBytes)),
                            (unsigned long long)sampleBytes);
    return std::string();
}

// [block count, block size, the last block's size (0: a whole one), each compressed size]:
// the blocks must make up the samples exactly, and lie within the store.
std::string VtiArray::openBlocks() {
    std::uint64_t head[3];
    std::string failure = readWords(0, 3, head);
    if (!failure.empty())
        return failure;
    const std::uint64_t blocks = head[0], size = head[1];
    lastSize = head[2] == 0 ? size : head[2];
    const std::uint64_t words = (store.length - 3 * std::uint64_t(wordBytes)) / wordBytes;
    if (blocks > words)
        return formatString("bad VTK XML array: %llu blocks, more than the file holds",
                            (unsigned long long)blocks);
    if (blocks == 0 || size == 0 || lastSize > size || lastSize > sampleBytes ||
        (blocks - 1) > (sampleBytes - lastSize) / size ||
        (blocks - 1) * size + lastSize != sampleBytes)
        return formatString("bad VTK XML array: %llu blocks of %llu bytes (the last %llu), not "
                            "the %llu bytes of the samples",
                            (unsigned long long)blocks, (unsigned long long)size,
                            (unsigned long long)head[2], (unsigned long long)sampleBytes);
    blockSize = size;
    std::vector<std::uint64_t> sizes(blocks);
    failure = readWords(3 * std::uint64_t(wordBytes), sizes.size(), sizes.data());
    if (!failure.empty())
        return failure;
    starts.assign(1, (3 + blocks) * std::uint64_t(wordBytes));
    for (std::uint64_t b = 0; b < blocks; ++b) {
        if (sizes[b] > store.length - starts.back())
            return formatString("file too short: block %llu of the array ends past the data",
                                (unsigned long long)b);
        starts.push_back(starts.back() + sizes[b]);
    }
    return std::string();
}

namespace {
std::string decodeLz4(const unsigned char* in, std::size_t size, unsigned char* out,
                      std::size_t expected) {
    if (size > std::size_t(INT_MAX) || expected > std::size_t(INT_MAX))
        return "lz4 block too large";
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in),
                                        reinterpret_cast<char*>(out), int(size), int(expected));
    return got >= 0 && std::size_t(got) == expected ? std::string() : "bad lz4 data";
}

// VTK's LZMA blocks are .xz streams, each whole.
std::string decodeLzma(const unsigned char* in, std::size_t size, unsigned char* out,
                       std::size_t expected) {
    std::uint64_t memoryLimit = std::uint64_t(1) << 30;
    std::size_t inAt = 0, outAt = 0;
    const lzma_ret ret =
        lzma_stream_buffer_decode(&memoryLimit, 0, nullptr, in, &inAt, size, out, &outAt, expected);
    // Whole input but no room left for the output.
    if (ret == LZMA_BUF_ERROR)
        return formatString("decodes to more than %zu bytes", expected);
    if (ret != LZMA_OK)
        return "bad lzma data";
    if (outAt != expected)
        return formatString("decodes to %zu bytes, not %zu", outAt, expected);
    return std::string();
}
} // namespace

std::string VtiArray::decodeBlock(std::uint64_t b) {
    if (b == cachedBlock)
        return std::string();
    cachedBlock = UINT64_MAX;
    const std::size_t expected = std::size_t(b + 1 == starts.size() - 1 ? lastSize : blockSize);
    input.resize(std::size_t(starts[b + 1] - starts[b]));
    if (!store.read(starts[b], input.size(), input.data()))
        return formatString("file too short: block %llu of the array", (unsigned long long)b);
    cache.resize(expected);
    std::string failure;
    if (compressor == VtiCompressor::Zlib)
        failure = decodeChunk(ChunkCodec::Zlib, input.data(), input.size(), cache.data(), expected);
    else if (compressor == VtiCompressor::Lz4)
        failure = decodeLz4(input.data(), input.size(), cache.data(), expected);
    else
        failure = decodeLzma(input.data(), input.size(), cache.data(), expected);
    if (!failure.empty())
        return formatString("block %llu of the array: ", (unsigned long long)b) + failure;
    cachedBlock = b;
    return std::string();
}

std::string VtiArray::read(std::uint64_t at, std::size_t size, unsigned char* out) {
    if (compressor == VtiCompressor::None)
        return store.read(std::uint64_t(wordBytes) + at, size, out)
                   ? std::string()
                   : "file too short: a read of the array failed";
    while (size > 0) {
        const std::uint64_t b = at / blockSize, within = at % blockSize;
        std::string failure = decodeBlock(b);
        if (!failure.empty())
            return failure;
        if (within >= cache.size())
            return "a read past the array's samples";
        const std::size_t n = std::size_t(std::min<std::uint64_t>(size, cache.size() - within));
        std::memcpy(out, cache.data() + within, n);
        out += n;
        at += n;
        size -= n;
    }
    return std::string();
}
