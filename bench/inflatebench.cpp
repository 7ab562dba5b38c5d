#include "inflatebench.h"

#include "codecs/chunkcodecs.h"
#include "pyramids.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int side = 64, chunks = 16, runs = 5;
constexpr std::size_t chunkBytes = std::size_t(side) * side * side * 2;

// Chunks of uint16 pyramid samples along z, each deflated in zlib's format at level.
std::vector<std::vector<unsigned char>> deflatedChunks(int level) {
    std::vector<std::vector<unsigned char>> out;
    std::vector<std::uint16_t> samples(chunkBytes / 2);
    for (int c = 0; c < chunks; ++c) {
        std::size_t i = 0;
        for (int z = 0; z < side; ++z)
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    samples[i++] = pyramidSample(0, x, y, c * side + z);
        uLongf size = compressBound(chunkBytes);
        std::vector<unsigned char> stored(size);
        compress2(stored.data(), &size, reinterpret_cast<const Bytef*>(samples.data()), chunkBytes,
                  level);
        stored.resize(size);
        out.push_back(std::move(stored));
    }
    return out;
}

// GB/s of decoded bytes, the best of a few runs over every chunk; 0 when one fails.
double rate(const std::vector<std::vector<unsigned char>>& stored,
            const std::function<bool(const std::vector<unsigned char>&, unsigned char*)>& inflate) {
    std::vector<unsigned char> out(chunkBytes);
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        for (const auto& chunk : stored)
            if (!inflate(chunk, out.data()))
                return 0;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return double(chunkBytes) * stored.size() / best / 1e9;
}
} // namespace

void benchmarkInflate() {
    libdeflate_decompressor* libdeflate = libdeflate_alloc_decompressor();
    const auto zlib = [](const std::vector<unsigned char>& in, unsigned char* out) {
        uLongf size = chunkBytes;
        return uncompress(out, &size, in.data(), in.size()) == Z_OK && size == chunkBytes;
    };
    const auto isal = [](const std::vector<unsigned char>& in, unsigned char* out) {
        inflate_state state;
        isal_inflate_init(&state);
        state.next_in = const_cast<unsigned char*>(in.data());
        state.avail_in = std::uint32_t(in.size());
        state.next_out = out;
        state.avail_out = std::uint32_t(chunkBytes);
        state.crc_flag = ISAL_ZLIB;
        return isal_inflate_stateless(&state) == ISAL_DECOMP_OK && state.total_out == chunkBytes;
    };
    const auto whole = [libdeflate](const std::vector<unsigned char>& in, unsigned char* out) {
        std::size_t got = 0;
        return libdeflate_zlib_decompress(libdeflate, in.data(), in.size(), out, chunkBytes,
                                          &got) == LIBDEFLATE_SUCCESS &&
               got == chunkBytes;
    };
    const auto converter = [](const std::vector<unsigned char>& in, unsigned char* out) {
        return decodeChunk(ChunkCodec::Zlib, in.data(), in.size(), out, chunkBytes).empty();
    };
    std::printf("\nInflating whole %d^3 uint16 chunks (GB/s of samples; HDF5's deflate and Zarr's "
                "zlib and gzip): the converter uses ISA-L\n",
                side);
    std::printf("%-8s %8s %8s %10s %10s %12s\n", "level", "zlib", "ISA-L", "libdeflate",
                "converter", "vs zlib");
    for (const int level : {1, 6}) {
        const auto stored = deflatedChunks(level);
        const double z = rate(stored, zlib), c = rate(stored, converter);
        std::printf("%-8d %8.2f %8.2f %10.2f %10.2f %12.2f\n", level, z, rate(stored, isal),
                    rate(stored, whole), c, z > 0 ? c / z : 0.0);
    }
    libdeflate_free_decompressor(libdeflate);
}
