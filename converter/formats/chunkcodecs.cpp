#include "littleendian.h"
#include "chunkcodecs.h"
#include "littleendian.h"

#include "littleendian.h"
#include <blosc.h>
#include "littleendian.h"
#include <isa-l/crc.h>
#include "littleendian.h"
#include <lz4.h>
#include "littleendian.h"
#include <zlib.h>
#include "littleendian.h"
#include <zstd.h>
#include "littleendian.h"

#include "littleendian.h"
#include <algorithm>
#include "littleendian.h"
#include <array>
#include "littleendian.h"
#include <climits>
#include "littleendian.h"
#include <cstdint>
#include "littleendian.h"
#include <cstring>
#include "littleendian.h"
#include <memory>
#include "littleendian.h"

#include "littleendian.h"
namespace {
#include "littleendian.h"
std::string sizeMismatch(std::size_t got, std::size_t expected, bool more) {
#include "littleendian.h"
    return more ? "decodes to more than " + std::to_string(expected) + " bytes"
#include "littleendian.h"
                : "decodes to " + std::to_string(got) + " bytes, not " + std::to_string(expected);
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeRaw(const unsigned char* in, std::size_t size, unsigned char* out,
#include "littleendian.h"
                      std::size_t expected) {
#include "littleendian.h"
    if (size != expected)
#include "littleendian.h"
        return sizeMismatch(size, expected, size > expected);
#include "littleendian.h"
    if (size > 0) // an empty chunk may come with null buffers, which memcpy must not see
#include "littleendian.h"
        std::memcpy(out, in, size);
#include "littleendian.h"
    return std::string();
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeBlosc(const unsigned char* in, std::size_t size, unsigned char* out,
#include "littleendian.h"
                        std::size_t expected) {
#include "littleendian.h"
    // The header's claims are checked against the buffer before anything is decoded.
#include "littleendian.h"
    std::size_t claimed = 0;
#include "littleendian.h"
    if (blosc_cbuffer_validate(in, size, &claimed) != 0)
#include "littleendian.h"
        return "bad blosc data";
#include "littleendian.h"
    if (claimed != expected)
#include "littleendian.h"
        return sizeMismatch(claimed, expected, claimed > expected);
#include "littleendian.h"
    if (expected > std::size_t(INT_MAX))
#include "littleendian.h"
        return "blosc chunk too large";
#include "littleendian.h"
    const int got = blosc_decompress_ctx(in, out, expected, 1);
#include "littleendian.h"
    if (got < 0 || std::size_t(got) != expected)
#include "littleendian.h"
        return "bad blosc data";
#include "littleendian.h"
    return std::string();
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeZstd(const unsigned char* in, std::size_t size, unsigned char* out,
#include "littleendian.h"
                       std::size_t expected) {
#include "littleendian.h"
    const std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(),
#include "littleendian.h"
                                                                          ZSTD_freeDCtx);
#include "littleendian.h"
    if (!context)
#include "littleendian.h"
        return "out of memory";
#include "littleendian.h"
        // A window far beyond the chunk's size is no frame a chunk needs, and would make zstd
#include "littleendian.h"
        // allocate it.
#include "littleendian.h"
    int windowLog = 20;
#include "littleendian.h"
    while (windowLog < 31 && (std::size_t(1) << windowLog) < expected)
#include "littleendian.h"
        ++windowLog;
#include "littleendian.h"
    ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLog);
#include "littleendian.h"
    // A frame that tells its size is refused by it before anything is decoded.
#include "littleendian.h"
    const unsigned long long claimed = ZSTD_getFrameContentSize(in, size);
#include "littleendian.h"
    if (claimed != ZSTD_CONTENTSIZE_UNKNOWN && claimed != ZSTD_CONTENTSIZE_ERROR &&
#include "littleendian.h"
        claimed != expected && ZSTD_findFrameCompressedSize(in, size) == size)
#include "littleendian.h"
        return sizeMismatch(std::size_t(std::min<unsigned long long>(claimed, SIZE_MAX)), expected,
#include "littleendian.h"
                            claimed > expected);
#include "littleendian.h"
    ZSTD_inBuffer input{in, size, 0};
#include "littleendian.h"
    ZSTD_outBuffer output{out, expected, 0};
#include "littleendian.h"
    std::size_t left = 1;
#include "littleendian.h"
    // Decodes into output until it is full, the data end, or nothing moves (cut short).
#include "littleendian.h"
    const auto run = [&](ZSTD_outBuffer* into) {
#include "littleendian.h"
        while (into->pos < into->size && !(left == 0 && input.pos == input.size)) {
#include "littleendian.h"
            const std::size_t inBefore = input.pos, outBefore = into->pos;
#include "littleendian.h"
            left = ZSTD_decompressStream(context.get(), into, &input);
#include "littleendian.h"
            if (ZSTD_isError(left))
#include "littleendian.h"
                return false;
#include "littleendian.h"
            if (input.pos == inBefore && into->pos == outBefore)
#include "littleendian.h"
                break;
#include "littleendian.h"
        }
#include "littleendian.h"
        return true;
#include "littleendian.h"
    };
#include "littleendian.h"
    if (!run(&output))
#include "littleendian.h"
        return "bad zstd data";
#include "littleendian.h"
    if (output.pos < expected)
#include "littleendian.h"
        return left == 0 ? sizeMismatch(output.pos, expected, false) : "truncated zstd data";
#include "littleendian.h"
        // Full: anything more the data would yield makes the chunk too long.
#include "littleendian.h"
    unsigned char extra;
#include "littleendian.h"
    ZSTD_outBuffer more{&extra, 1, 0};
#include "littleendian.h"
    if (!run(&more))
#include "littleendian.h"
        return "bad zstd data";
#include "littleendian.h"
    if (more.pos > 0)
#include "littleendian.h"
        return sizeMismatch(expected + 1, expected, true);
#include "littleendian.h"
    if (left != 0)
#include "littleendian.h"
        return "truncated zstd data";
#include "littleendian.h"
    return std::string();
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeDeflate(const unsigned char* in, std::size_t size, unsigned char* out,
#include "littleendian.h"
                          std::size_t expected, bool gzip) {
#include "littleendian.h"
    z_stream stream{};
#include "littleendian.h"
    if (inflateInit2(&stream, gzip ? 15 + 16 : 15) != Z_OK)
#include "littleendian.h"
        return "out of memory";
#include "littleendian.h"
    const char* name = gzip ? "gzip" : "zlib";
#include "littleendian.h"
    stream.next_in = const_cast<unsigned char*>(in);
#include "littleendian.h"
    stream.next_out = out;
#include "littleendian.h"
    std::size_t inLeft = size, outLeft = expected;
#include "littleendian.h"
    int status = Z_OK;
#include "littleendian.h"
    // zlib counts in unsigned ints: larger buffers go in steps.
#include "littleendian.h"
    while (status == Z_OK) {
#include "littleendian.h"
        const uInt inStep = uInt(std::min<std::size_t>(inLeft, UINT_MAX));
#include "littleendian.h"
        const uInt outStep = uInt(std::min<std::size_t>(outLeft, UINT_MAX));
#include "littleendian.h"
        stream.avail_in = inStep;
#include "littleendian.h"
        stream.avail_out = outStep;
#include "littleendian.h"
        status = inflate(&stream, Z_NO_FLUSH);
#include "littleendian.h"
        inLeft -= inStep - stream.avail_in;
#include "littleendian.h"
        outLeft -= outStep - stream.avail_out;
#include "littleendian.h"
        if (status == Z_BUF_ERROR ||
#include "littleendian.h"
            (status == Z_OK && inStep == stream.avail_in && outStep == stream.avail_out))
#include "littleendian.h"
            break;
#include "littleendian.h"
    }
#include "littleendian.h"
    std::string failure;
#include "littleendian.h"
    if (status == Z_STREAM_END && outLeft > 0)
#include "littleendian.h"
        failure = sizeMismatch(expected - outLeft, expected, false);
#include "littleendian.h"
    else if (status == Z_STREAM_END)
#include "littleendian.h"
        failure = std::string();
#include "littleendian.h"
    else if (outLeft == 0 && (status == Z_OK || status == Z_BUF_ERROR))
#include "littleendian.h"
        failure = sizeMismatch(expected + 1, expected, true);
#include "littleendian.h"
    else if (status == Z_OK || status == Z_BUF_ERROR)
#include "littleendian.h"
        failure = std::string("truncated ") + name + " data";
#include "littleendian.h"
    else
#include "littleendian.h"
        failure = std::string("bad ") + name + " data";
#include "littleendian.h"
    inflateEnd(&stream);
#include "littleendian.h"
    return failure;
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeLz4(const unsigned char* in, std::size_t size, unsigned char* out,
#include "littleendian.h"
                      std::size_t expected) {
#include "littleendian.h"
    // numcodecs' framing: the decoded size as four little-endian bytes, then one LZ4 block.
#include "littleendian.h"
    if (size < 4)
#include "littleendian.h"
        return "truncated lz4 data";
#include "littleendian.h"
    const std::uint64_t claimed = littleEndianWord(in);
#include "littleendian.h"
    if (claimed != expected)
#include "littleendian.h"
        return sizeMismatch(std::size_t(claimed), expected, claimed > expected);
#include "littleendian.h"
    if (size - 4 > std::size_t(INT_MAX) || expected > std::size_t(INT_MAX))
#include "littleendian.h"
        return "lz4 chunk too large";
#include "littleendian.h"
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in + 4),
#include "littleendian.h"
                                        reinterpret_cast<char*>(out), int(size - 4), int(expected));
#include "littleendian.h"
    if (got < 0 || std::size_t(got) != expected)
#include "littleendian.h"
        return "bad lz4 data";
#include "littleendian.h"
    return std::string();
#include "littleendian.h"
}
#include "littleendian.h"
} // namespace
#include "littleendian.h"

#include "littleendian.h"
const char* chunkCodecName(ChunkCodec codec) {
#include "littleendian.h"
    switch (codec) {
#include "littleendian.h"
    case ChunkCodec::Raw:
#include "littleendian.h"
        return "raw";
#include "littleendian.h"
    case ChunkCodec::Blosc:
#include "littleendian.h"
        return "blosc";
#include "littleendian.h"
    case ChunkCodec::Zstd:
#include "littleendian.h"
        return "zstd";
#include "littleendian.h"
    case ChunkCodec::Zlib:
#include "littleendian.h"
        return "zlib";
#include "littleendian.h"
    case ChunkCodec::Gzip:
#include "littleendian.h"
        return "gzip";
#include "littleendian.h"
    case ChunkCodec::Lz4:
#include "littleendian.h"
        return "lz4";
#include "littleendian.h"
    }
#include "littleendian.h"
    return "unknown";
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::string decodeChunk(ChunkCodec codec, const unsigned char* in, std::size_t size,
#include "littleendian.h"
                        unsigned char* out, std::size_t expected) {
#include "littleendian.h"
    switch (codec) {
#include "littleendian.h"
    case ChunkCodec::Raw:
#include "littleendian.h"
        return decodeRaw(in, size, out, expected);
#include "littleendian.h"
    case ChunkCodec::Blosc:
#include "littleendian.h"
        return decodeBlosc(in, size, out, expected);
#include "littleendian.h"
    case ChunkCodec::Zstd:
#include "littleendian.h"
        return decodeZstd(in, size, out, expected);
#include "littleendian.h"
    case ChunkCodec::Zlib:
#include "littleendian.h"
        return decodeDeflate(in, size, out, expected, false);
#include "littleendian.h"
    case ChunkCodec::Gzip:
#include "littleendian.h"
        return decodeDeflate(in, size, out, expected, true);
#include "littleendian.h"
    case ChunkCodec::Lz4:
#include "littleendian.h"
        return decodeLz4(in, size, out, expected);
#include "littleendian.h"
    }
#include "littleendian.h"
    return "unknown codec";
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::uint64_t encodedChunkBound(std::uint64_t raw) {
#include "littleendian.h"
    return raw + raw / 64 + 4096;
#include "littleendian.h"
}
#include "littleendian.h"

#include "littleendian.h"
std::uint32_t crc32c(const unsigned char* data, std::size_t size) {
#include "littleendian.h"
    // ISA-L takes an int length: a larger buffer goes in pieces, the register carried along.
#include "littleendian.h"
    constexpr std::size_t piece = std::size_t(1) << 30;
#include "littleendian.h"
    std::uint32_t c = 0xffffffffu;
#include "littleendian.h"
    for (std::size_t at = 0; at < size; at += piece)
#include "littleendian.h"
        c = crc32_iscsi(const_cast<unsigned char*>(data + at), int(std::min(piece, size - at)), c);
#include "littleendian.h"
    return c ^ 0xffffffffu;
#include "littleendian.h"
}
