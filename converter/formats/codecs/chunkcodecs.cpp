#include "codecs/chunkcodecs.h"

#include "littleendian.h"

#include <blosc.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {
std::string sizeMismatch(std::size_t got, std::size_t expected, bool more) {
    return more ? "decodes to more than " + std::to_string(expected) + " bytes"
                : "decodes to " + std::to_string(got) + " bytes, not " + std::to_string(expected);
}

std::string decodeRaw(const unsigned char* in, std::size_t size, unsigned char* out,
                      std::size_t expected) {
    if (size != expected)
        return sizeMismatch(size, expected, size > expected);
    if (size > 0) // an empty chunk may come with null buffers, which memcpy must not see
        std::memcpy(out, in, size);
    return std::string();
}

std::string decodeBlosc(const unsigned char* in, std::size_t size, unsigned char* out,
                        std::size_t expected) {
    // The header's claims are checked against the buffer before anything is decoded.
    std::size_t claimed = 0;
    if (blosc_cbuffer_validate(in, size, &claimed) != 0)
        return "bad blosc data";
    if (claimed != expected)
        return sizeMismatch(claimed, expected, claimed > expected);
    if (expected > std::size_t(INT_MAX))
        return "blosc chunk too large";
    const int got = blosc_decompress_ctx(in, out, expected, 1);
    if (got < 0 || std::size_t(got) != expected)
        return "bad blosc data";
    return std::string();
}

std::string decodeZstd(const unsigned char* in, std::size_t size, unsigned char* out,
                       std::size_t expected) {
    const std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(),
                                                                          ZSTD_freeDCtx);
    if (!context)
        return "out of memory";
    // A window far beyond the chunk's size is no frame a chunk needs, and would make zstd
    // allocate it.
    int windowLog = 20;
    while (windowLog < 31 && (std::size_t(1) << windowLog) < expected)
        ++windowLog;
    ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLog);
    // A frame that tells its size is refused by it before anything is decoded.
    const unsigned long long claimed = ZSTD_getFrameContentSize(in, size);
    if (claimed != ZSTD_CONTENTSIZE_UNKNOWN && claimed != ZSTD_CONTENTSIZE_ERROR &&
        claimed != expected && ZSTD_findFrameCompressedSize(in, size) == size)
        return sizeMismatch(std::size_t(std::min<unsigned long long>(claimed, SIZE_MAX)), expected,
                            claimed > expected);
    ZSTD_inBuffer input{in, size, 0};
    ZSTD_outBuffer output{out, expected, 0};
    std::size_t left = 1;
    // Decodes into output until it is full, the data end, or nothing moves (cut short).
    const auto run = [&](ZSTD_outBuffer* into) {
        while (into->pos < into->size && !(left == 0 && input.pos == input.size)) {
            const std::size_t inBefore = input.pos, outBefore = into->pos;
            left = ZSTD_decompressStream(context.get(), into, &input);
            if (ZSTD_isError(left))
                return false;
            if (input.pos == inBefore && into->pos == outBefore)
                break;
        }
        return true;
    };
    if (!run(&output))
        return "bad zstd data";
    if (output.pos < expected)
        return left == 0 ? sizeMismatch(output.pos, expected, false) : "truncated zstd data";
    // Full: anything more the data would yield makes the chunk too long.
    unsigned char extra;
    ZSTD_outBuffer more{&extra, 1, 0};
    if (!run(&more))
        return "bad zstd data";
    if (more.pos > 0)
        return sizeMismatch(expected + 1, expected, true);
    if (left != 0)
        return "truncated zstd data";
    return std::string();
}

// zlib's inflate, which tells a stream cut short from a damaged one, and says by how much a
// chunk's size is off.
std::string inflateWithZlib(const unsigned char* in, std::size_t size, unsigned char* out,
                            std::size_t expected, bool gzip) {
    z_stream stream{};
    if (inflateInit2(&stream, gzip ? 15 + 16 : 15) != Z_OK)
        return "out of memory";
    const char* name = gzip ? "gzip" : "zlib";
    stream.next_in = const_cast<unsigned char*>(in);
    stream.next_out = out;
    std::size_t inLeft = size, outLeft = expected;
    int status = Z_OK;
    // zlib counts in unsigned ints: larger buffers go in steps.
    while (status == Z_OK) {
        const uInt inStep = uInt(std::min<std::size_t>(inLeft, UINT_MAX));
        const uInt outStep = uInt(std::min<std::size_t>(outLeft, UINT_MAX));
        stream.avail_in = inStep;
        stream.avail_out = outStep;
        status = inflate(&stream, Z_NO_FLUSH);
        inLeft -= inStep - stream.avail_in;
        outLeft -= outStep - stream.avail_out;
        if (status == Z_BUF_ERROR ||
            (status == Z_OK && inStep == stream.avail_in && outStep == stream.avail_out))
            break;
    }
    std::string failure;
    if (status == Z_STREAM_END && outLeft > 0)
        failure = sizeMismatch(expected - outLeft, expected, false);
    else if (status == Z_STREAM_END)
        failure = std::string();
    else if (outLeft == 0 && (status == Z_OK || status == Z_BUF_ERROR))
        failure = sizeMismatch(expected + 1, expected, true);
    else if (status == Z_OK || status == Z_BUF_ERROR)
        failure = std::string("truncated ") + name + " data";
    else
        failure = std::string("bad ") + name + " data";
    inflateEnd(&stream);
    return failure;
}

// A chunk ISA-L takes whole needs nothing else; for one it does not, zlib inflates it again for
// the reason.
std::string decodeDeflate(const unsigned char* in, std::size_t size, unsigned char* out,
                          std::size_t expected, bool gzip) {
    std::size_t got = 0;
    const Inflated result = inflateWhole(in, size, out, expected, gzip, &got);
    if (result == Inflated::Whole && got == expected)
        return std::string();
    if (result == Inflated::Whole)
        return sizeMismatch(got, expected, false);
    return inflateWithZlib(in, size, out, expected, gzip);
}

std::string decodeLz4(const unsigned char* in, std::size_t size, unsigned char* out,
                      std::size_t expected) {
    // numcodecs' framing: the decoded size as four little-endian bytes, then one LZ4 block.
    if (size < 4)
        return "truncated lz4 data";
    const std::uint64_t claimed = littleEndianWord(in);
    if (claimed != expected)
        return sizeMismatch(std::size_t(claimed), expected, claimed > expected);
    if (size - 4 > std::size_t(INT_MAX) || expected > std::size_t(INT_MAX))
        return "lz4 chunk too large";
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in + 4),
                                        reinterpret_cast<char*>(out), int(size - 4), int(expected));
    if (got < 0 || std::size_t(got) != expected)
        return "bad lz4 data";
    return std::string();
}
} // namespace

const char* chunkCodecName(ChunkCodec codec) {
    switch (codec) {
    case ChunkCodec::Raw:
        return "raw";
    case ChunkCodec::Blosc:
        return "blosc";
    case ChunkCodec::Zstd:
        return "zstd";
    case ChunkCodec::Zlib:
        return "zlib";
    case ChunkCodec::Gzip:
        return "gzip";
    case ChunkCodec::Lz4:
        return "lz4";
    }
    return "unknown";
}

std::string decodeChunk(ChunkCodec codec, const unsigned char* in, std::size_t size,
                        unsigned char* out, std::size_t expected) {
    switch (codec) {
    case ChunkCodec::Raw:
        return decodeRaw(in, size, out, expected);
    case ChunkCodec::Blosc:
        return decodeBlosc(in, size, out, expected);
    case ChunkCodec::Zstd:
        return decodeZstd(in, size, out, expected);
    case ChunkCodec::Zlib:
        return decodeDeflate(in, size, out, expected, false);
    case ChunkCodec::Gzip:
        return decodeDeflate(in, size, out, expected, true);
    case ChunkCodec::Lz4:
        return decodeLz4(in, size, out, expected);
    }
    return "unknown codec";
}

Inflated inflateWhole(const unsigned char* in, std::size_t size, unsigned char* out,
                      std::size_t room, bool gzip, std::size_t* got) {
    *got = 0;
    // ISA-L counts in 32 bits; a larger chunk is refused before it is decoded.
    if (size > UINT32_MAX || room > UINT32_MAX)
        return Inflated::Damaged;
    inflate_state state;
    isal_inflate_init(&state);
    state.next_in = const_cast<unsigned char*>(in);
    state.avail_in = std::uint32_t(size);
    state.next_out = out;
    state.avail_out = std::uint32_t(room);
    state.crc_flag = gzip ? ISAL_GZIP : ISAL_ZLIB;
    const int result = isal_inflate_stateless(&state);
    *got = state.total_out;
    return result == ISAL_DECOMP_OK      ? Inflated::Whole
           : result == ISAL_OUT_OVERFLOW ? Inflated::Overflow
                                         : Inflated::Damaged;
}

std::uint64_t encodedChunkBound(std::uint64_t raw) {
    return raw + raw / 64 + 4096;
}

std::uint32_t crc32c(const unsigned char* data, std::size_t size) {
    // ISA-L takes an int length: a larger buffer goes in pieces, the register carried along.
    constexpr std::size_t piece = std::size_t(1) << 30;
    std::uint32_t c = 0xffffffffu;
    for (std::size_t at = 0; at < size; at += piece)
        c = crc32_iscsi(const_cast<unsigned char*>(data + at), int(std::min(piece, size - at)), c);
    return c ^ 0xffffffffu;
}
