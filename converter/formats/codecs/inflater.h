#pragma once

// A zlib or gzip stream read forwards from an open file, slice after slice, with a rewind for a
// second pass: the compressed samples of NRRD, MetaImage, MGH and NIfTI files. Each inflater
// reads the file at its own offset, so several (copies taken at different places) may share one
// file. ISA-L inflates, checking each member's checksum: over twice zlib's speed on these files.

#include <isa-l/igzip_lib.h>

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Deflate packs at most this many bytes into one: compressed data that much shorter than the
// bytes a header claims for it cannot hold them.
constexpr std::uint64_t maxDeflateExpansion = 1032;

struct Inflater {
    enum class Result { Done, Short, Damaged };

    // Reads from file (which must outlive the inflater) at start, at most limit compressed
    // bytes (-1: to the file's end). With multiMember, a stream that ends is followed by the
    // next one, as gzip files may hold several members.
    Inflater(std::FILE* file, off_t start, std::int64_t limit, bool multiMember);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Back to the first byte, for a new pass; false when the file cannot seek.
    bool rewind();
    // Fills out with the next length bytes: Done, Short when the data ends early, Damaged.
    Result next(unsigned char* out, std::size_t length);
    // Passes over the next length bytes.
    Result skip(std::uint64_t length);
    // An inflater that stands where this one stands and goes on from there on its own; a
    // rewind takes either back to the first byte.
    std::unique_ptr<Inflater> copy() const;

    // After Short: whether the data stopped inside a member (a stream cut off) rather than at
    // a member's end.
    bool stoppedInMember() const { return !ended && !memberStart; }

    std::uint64_t position = 0; // decompressed bytes given out so far

private:
    std::FILE* file;
    off_t start, at; // where the compressed bytes start, and where the next are read
    std::int64_t limit, inputLeft;
    bool multiMember, ended = false;
    bool memberStart = true; // no byte of the current member inflated yet
    // Large (tens of kB): held apart, so that copying an inflater is one assignment.
    std::unique_ptr<inflate_state> state = std::make_unique<inflate_state>();

    bool fillInput();
    void startMember();
    std::vector<unsigned char> input = std::vector<unsigned char>(1 << 16);
};
