#pragma once

#include <cstddef>
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
    bool loadWithDevIL(std::string path);

    // The decoders behind the loaders, on a stream or on bytes in memory. ilType is DevIL's
    // file type (IL_PNG, ...).
    bool readRaw(std::FILE* file);
    bool decodeWithDevIL(const unsigned char* bytes, std::size_t size, unsigned int ilType);

    // Makes the record empty: sizes 0, no pixels.
    void clear();
};

// The longest side of a picture the viewer reads. The overlay shows at most the panel's pixels
// of a picture, and no GL offers a viewport (GL_MAX_VIEWPORT_DIMS) larger than this on
// today's drivers (Mesa and most desktop GPUs give exactly 16384), so a longer side could
// never show; refusing it bounds the memory a small, well-compressed file can claim.
const int maxPictureSide = 16384;

// The path from its last '.' on, lower-cased; empty when the path has no '.'.
std::string fileExtension(std::string path);

// Reverses the row order in place.
void flipRows(Image* image);

// Whether bytes that begin with the PNG signature form a whole chunk sequence up to IEND whose
// header (IHDR) gives sides between 1 and maxPictureSide. Bytes without the signature are not
// judged (true). The PNG reader loops forever on a file that ends early, so a PNG is checked
// before it is decoded.
bool isWholePng(const unsigned char* bytes, std::size_t size);
