#pragma once

// The .vol file: one home for its layout. Little-endian; a header block of headerSize bytes,
// then 3 * N^3 bytes of samples, R, G, B each, x varying fastest, then y, then z.

#include "files.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace volumeLayout {
const int headerSize = 4096;
const int magicOffset = 0;
const char magic[] = "VOLU"; // its four bytes, at magicOffset
const int versionOffset = 4;
const int nameOffset = 8; // the reference picture's name without ".png", NUL-terminated
const int nameLength = 260;
const int sizeOffset = 268; // N, the edge length in samples
const int componentsOffset = 272;
const int componentTypeOffset = 276;
const std::int32_t version = 4;
const std::int32_t components = 3;    // R, G, B
const std::int32_t componentType = 1; // one unsigned byte per channel
const std::int32_t maxSize = 1 << 20; // beyond every GL's 3D texture limit; 3 * N^3 fits 64 bits
} // namespace volumeLayout

// The viewer's refusals of a volume; the GL's own come from the viewer's GL step.
namespace volumeMessages {
const char badMagic[] = "bad header: invalid magic";
const char badVersion[] = "bad header: version != 4";
const char notRgb[] = "bad header: only RGB textures supported";
const char notBytes[] = "bad header: only byte textures supported";
const char badSize[] = "bad header: invalid size";
const char truncated[] = "file too short: truncated samples";
const char outOfMemory[] = "out of memory: volume too large";
} // namespace volumeMessages

struct VolumeHeader {
    std::int32_t version = volumeLayout::version;
    std::string name; // the reference picture's name, at most nameLength - 1 bytes
    std::int32_t size = 0;
    std::int32_t components = volumeLayout::components;
    std::int32_t componentType = volumeLayout::componentType;
};

// Whether bytes (length of them) are a whole header block that starts with the magic.
bool hasVolumeMagic(const unsigned char* bytes, std::size_t length);

// Checks a header block (length bytes, fewer when the file is short) in the viewer's order,
// magic, version, components, component type, size, and fills header. Returns "" when it is
// good, else the message. A name field without a NUL ends at the field's end.
[[nodiscard]] std::string parseVolumeHeader(const unsigned char* bytes, std::size_t length,
                                            VolumeHeader* header);

// The header block for header; a name longer than the field allows is cut.
std::vector<unsigned char> encodeVolumeHeader(const VolumeHeader& header);

// 3 * N^3, the bytes of samples of an N^3 volume.
std::uint64_t volumeSampleBytes(std::int32_t n);

// Reads the header block from the stream's position and checks it as parseVolumeHeader does.
[[nodiscard]] std::string readVolumeHeader(std::FILE* file, VolumeHeader* header);

// Whether the stream holds the samples of an N^3 volume after its position: "" or the message.
[[nodiscard]] std::string checkVolumeLength(std::FILE* file, std::int32_t n);

// Whether availableMemory bytes (negative when unknown) can hold the samples of an N^3
// volume: "" or the message.
[[nodiscard]] std::string checkVolumeMemory(std::int32_t n, std::int64_t availableMemory);

// The GL's verdict on an N^3 volume: "" or why this GL cannot hold it. The viewer passes its
// own; the converter, which has no GL, passes none.
using VolumeGlStep = std::function<std::string(std::int32_t n)>;

// The checks after a good header, in the viewer's order: glStep (when given), that sampleBytes
// (negative when unknown) hold the samples of an N^3 volume, and that availableMemory bytes
// (negative when unknown) can hold them. Returns "" or the first message.
[[nodiscard]] std::string checkVolumeSamples(std::int32_t n, std::int64_t sampleBytes,
                                             const VolumeGlStep& glStep,
                                             std::int64_t availableMemory);

// Every check the viewer makes of the .vol file at path before it reads a sample, in its
// order: that it opens (a regular file), its header, then checkVolumeSamples. Returns "" or the
// first message. *file is the open file whenever it opened, positioned after the header when
// the header was read whole; *header holds what was read.
[[nodiscard]] std::string checkVolumeFile(const char* path, const VolumeGlStep& glStep,
                                          std::int64_t availableMemory, FileHandle* file,
                                          VolumeHeader* header);

// Reads the samples of an N^3 volume that follow the header into samples, which is released
// first. Checks that the stream holds them and that availableMemory bytes (negative when
// unknown) can hold them before allocating, as the two checks above do. Returns "" or the
// message.
[[nodiscard]] std::string readVolumeSamples(std::FILE* file, std::int32_t n,
                                            std::unique_ptr<unsigned char[]>* samples,
                                            std::int64_t availableMemory);

// Whether a header's picture name stays inside the volume's folder: not absolute and without
// a ".." component. Any other name names no picture.
bool isSafePictureName(const std::string& name);
