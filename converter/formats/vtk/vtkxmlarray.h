#pragma once

// A .vti array's stored bytes, as VTK writes them: a header of unsigned words (UInt32 or
// UInt64) then the samples, whole or cut into independently compressed blocks. The header is
// checked against the samples' byte count when the array opens; a read decodes only the blocks
// its byte range covers, keeping the last one for the read after it.

#include "files.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class VtiCompressor { None, Zlib, Lz4, Lzma };

// Where the bytes lie: length bytes of a file from start (appended raw data), or in memory
// (base64 decoded).
struct VtiStore {
    std::shared_ptr<FileHandle> file;
    std::uint64_t start = 0;
    std::shared_ptr<const std::vector<unsigned char>> memory;
    std::uint64_t length = 0;

    bool read(std::uint64_t at, std::size_t size, void* out) const;
};

class VtiArray {
public:
    // Reads and checks the header. Returns "" or the reason.
    [[nodiscard]] std::string open(const VtiStore& store, VtiCompressor compressor, int wordBytes,
                                   bool bigEndian, std::uint64_t sampleBytes);
    // Fills out with size bytes of the samples from at. Returns "" or the reason.
    [[nodiscard]] std::string read(std::uint64_t at, std::size_t size, unsigned char* out);
    // The bytes a read holds besides what it fills: one decoded block.
    std::uint64_t memory() const { return compressor == VtiCompressor::None ? 0 : blockSize; }

private:
    VtiStore store;
    VtiCompressor compressor = VtiCompressor::None;
    int wordBytes = 4;
    bool bigEndian = false;
    std::uint64_t sampleBytes = 0, blockSize = 0, lastSize = 0;
    std::vector<std::uint64_t> starts; // each block's first byte in the store, then the end
    std::uint64_t cachedBlock = UINT64_MAX;
    std::vector<unsigned char> cache, input;

    std::string readWords(std::uint64_t at, std::size_t count, std::uint64_t* words) const;
    std::string openBlocks();
    std::string decodeBlock(std::uint64_t block);
};
