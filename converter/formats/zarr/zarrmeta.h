#pragma once

// Zarr's metadata, read strictly: the arrays of Zarr v2 (.zarray) and v3 (zarr.json, sharding
// included) and the OME-NGFF attributes of an image (its multiscale levels, axes and the
// "omero" channel display). Every document is untrusted: its size and nesting are capped, and a
// shape, chunk or axis that no reader could follow is refused with the reason.

#include "codecs/chunkcodecs.h"
#include "typedsource.h"

#include <cstdint>
#include <string>
#include <vector>

// The most bytes of one metadata document.
constexpr std::size_t maxZarrDocument = 16u << 20;
// The most dimensions of an array: x, y, z, channels and time.
constexpr int maxZarrDimensions = 5;
// The most bytes one chunk (or inner chunk) and one shard may decode to, and the most inner
// chunks a shard may hold: parsing refuses an array past them, so that no product of its sizes
// wraps.
constexpr std::uint64_t maxZarrChunkBytes = std::uint64_t(1) << 30;
constexpr std::uint64_t maxZarrShardBytes = std::uint64_t(1) << 36;
constexpr std::uint64_t maxZarrInnerChunks = std::uint64_t(1) << 24;

// How one chunk's samples are stored as bytes.
struct ChunkCoding {
    bool bigEndian = false;
    bool fortran = false; // the samples in reversed axis order (v2's order "F", a transpose)
    ChunkCodec compressor = ChunkCodec::Raw;
    int checksums = 0; // crc32c values appended after compressing, innermost last
};

struct ZarrArray {
    int format = 2;
    std::vector<std::int64_t> shape;
    std::vector<std::int64_t> chunks; // the grid's cells: a shard, when sharded
    SampleType type = SampleType::UInt8;
    bool boolean = false; // bytes of 0 and 1 (v2's "|b1", v3's "bool"), read as 0 and 255
    double fill = 0;      // what a missing chunk reads as
    ChunkCoding coding;
    // Chunk keys: the prefix ("c" for v3's default keys, or none), then the indices, each
    // after the separator.
    std::string keyPrefix;
    char separator = '.';
    bool separatorGiven = true; // false where a v2 array names none (tools before it existed)
    bool sharded = false;
    std::vector<std::int64_t> inner; // the chunks inside a shard
    ChunkCoding innerCoding;
    bool indexChecksum = false;
    bool indexAtEnd = true;
    std::vector<std::string> dimensionNames; // v3's dimension_names, where given
};

// The key of the chunk (or shard) at grid index.
[[nodiscard]] std::string zarrChunkKey(const ZarrArray& array,
                                       const std::vector<std::int64_t>& index);

// The bytes of one chunk (or of one inner chunk of a shard) decoded.
std::uint64_t zarrChunkBytes(const ZarrArray& array, bool innerChunk);

// The inner chunks of one shard (1 when the array is not sharded).
std::uint64_t zarrInnerChunks(const ZarrArray& array);

// Reads an array's metadata: a v2 .zarray (format 2) or a v3 zarr.json (format 3) of node
// type array. Returns "" or the reason.
[[nodiscard]] std::string parseZarrArray(const std::string& text, int format, ZarrArray* array);

// The node type of a v3 zarr.json ("array" or "group"). Returns "" or the reason.
[[nodiscard]] std::string zarrNodeType(const std::string& text, std::string* type);

enum class AxisRole { X, Y, Z, Channel, Time };

struct ZarrAxis {
    std::string name, type, unit;
    AxisRole role = AxisRole::X;
};

struct ZarrLevel {
    std::string path;
    std::vector<double> scale;       // per axis, 1 where not given
    std::vector<double> translation; // per axis, 0 where not given
};

// An OME-NGFF image: its axes, levels finest first, and its channels' display.
struct ZarrImage {
    std::string version; // the multiscales' NGFF version ("0.3"), or "" where not given
    std::vector<ZarrAxis> axes;
    std::vector<ZarrLevel> levels;
    bool transformed = false; // whether any coordinateTransformations are given (not before 0.4)
    // bioformats2raw.layout 3: the images are groups of their own, listed in the group "OME"
    // (series), else at 0/, 1/ and on.
    bool seriesLayout = false;
    std::vector<std::string> series;
    std::vector<ChannelDisplay> channels;
};

// Reads the image of a group's attributes: a v2 .zattrs (format 2) or the "attributes" of a
// v3 zarr.json (format 3; NGFF 0.5 nests them in "ome"). An image without "multiscales" gives
// no levels (a bioformats2raw root, or its OME group, gives its series). Returns "" or the
// reason.
[[nodiscard]] std::string parseZarrImage(const std::string& text, int format, ZarrImage* image);

// The axes of a plain array: dimension_names where given, else (z, y, x), (c, z, y, x) or
// (t, c, z, y, x) by the count. Returns "" or the reason.
[[nodiscard]] std::string plainArrayAxes(const ZarrArray& array, std::vector<ZarrAxis>* axes);

// Gives each axis its role: x, y and z once each, channels and time at most once, nothing
// else. Returns "" or the reason.
[[nodiscard]] std::string assignAxisRoles(std::vector<ZarrAxis>* axes);
