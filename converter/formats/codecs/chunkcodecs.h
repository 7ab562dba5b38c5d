#pragma once

// The compressors of chunked inputs (Zarr's blosc, zstd, zlib, gzip, lz4) and the crc32c
// checksum, each decoding into a buffer of exactly the bytes the chunk must hold: a chunk that
// decodes to fewer or more is refused, and no buffer is ever sized from what the data claims.

#include <cstddef>
#include <cstdint>
#include <string>

enum class ChunkCodec { Raw, Blosc, Zstd, Zlib, Gzip, Lz4 };

// The codec's name as Zarr's metadata gives it.
const char* chunkCodecName(ChunkCodec codec);

// Decodes size bytes at in into exactly expected bytes at out. Returns "" or the reason
// ("decodes to more than 4096 bytes", "bad zstd data"), which the caller prefixes with the
// chunk's key.
[[nodiscard]] std::string decodeChunk(ChunkCodec codec, const unsigned char* in, std::size_t size,
                                      unsigned char* out, std::size_t expected);

// How a whole deflate stream inflated into a buffer of known size.
enum class Inflated { Whole, Overflow, Damaged };

// Inflates the zlib (or with gzip, gzip) stream of size bytes at in into the room bytes at out,
// with ISA-L: faster on chunks than zlib and than libdeflate (tessary-bench's inflate row).
// Whole when the stream ended, its checksum right, with *got bytes; Overflow when it goes on past
// room; Damaged otherwise (cut short, or corrupt).
Inflated inflateWhole(const unsigned char* in, std::size_t size, unsigned char* out,
                      std::size_t room, bool gzip, std::size_t* got);

// The most bytes a chunk of raw bytes may take once encoded by any codec above: the encoders'
// bound on incompressible data, with room for their headers.
std::uint64_t encodedChunkBound(std::uint64_t raw);

// CRC-32C (Castagnoli) of size bytes, as Zarr's crc32c codec appends it.
std::uint32_t crc32c(const unsigned char* data, std::size_t size);
