#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A picture as float channel values, rows from the bottom of the picture upwards: the value of
// channel c of pixel (x, y) is pixels[(y * width + x) * channels + c], y = 0 the bottom row.
class Image {
public:
    int width = 0;
    int height = 0;
    int channels = 0;          // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    std::vector<float> pixels; // width * height * channels values

    // Chooses the reader by extension: ".raw" (any case) is the float format, anything else
    // goes through DevIL. A failed load leaves the record empty and returns false.
    bool load(std::string path);
    bool loadRaw(std::string path);

    // The decoders behind the loaders, on a stream or on bytes in memory. ilType is DevIL's
    // file type (IL_PNG, ...).
    bool readRaw(std::FILE* file);
    bool decodeWithDevIL(const unsigned char* bytes, std::size_t size, unsigned int ilType);

    // Makes the record empty: sizes 0, no pixels.
    void clear();
};

// The most pixels a picture the viewer reads may have: 2^24 (16 Mi), e.g. 4096 x 4096 or
// 16384 x 1024, more than a 5K screen shows. The limit is on memory, not on shape: the record
// holds up to four floats a pixel (256 MiB at the limit) beside DevIL's decoded copy (64 MiB in
// 8-bit RGBA),
// and a small, well-compressed file can claim any size, so a PNG's claim is checked from its
// header before decoding. A long thin picture shows its bottom-left part like any other.
const std::int64_t maxPicturePixels = std::int64_t(1) << 24;

// The largest picture file the viewer reads, whole, into memory: a picture of maxPicturePixels
// stored without compression at 8 bytes a pixel (16-bit RGBA), a byte a row more (a PNG row's
// filter byte) and room for the format's headers. A picture the viewer shows by its pixels is
// never refused for its file.
const std::int64_t maxPictureFileBytes = maxPicturePixels * 9 + (std::int64_t(1) << 20);

// Whether a picture of width x height has at least one pixel and at most maxPicturePixels.
bool pictureSizeFits(std::int64_t width, std::int64_t height);

// The path from its last '.' on, lower-cased; empty when the path has no '.'.
[[nodiscard]] std::string fileExtension(std::string path);

// Reverses the row order in place.
void flipRows(Image* image);

// Whether bytes that begin with the PNG signature form a whole chunk sequence up to IEND whose
// header (IHDR) gives a size that pictureSizeFits. Bytes without the signature are not judged
// (true). The PNG reader loops forever on a file that ends early, and allocates whatever the
// header claims, so a PNG is checked before it is decoded.
bool isWholePng(const unsigned char* bytes, std::size_t size);

// Why the viewer decodes no picture from these bytes of a picture file: "" when it goes on to
// decode them, else the reason ("a PNG of 20000 x 20000 pixels, more than 16777216", ...).
[[nodiscard]] std::string pictureBytesProblem(const unsigned char* bytes, std::size_t size);

// Loads the picture at path as the viewer does (Image::load is this): "" or why the viewer
// shows none, with the record left empty.
[[nodiscard]] std::string loadPicture(const std::string& path, Image* image);
