#pragma once

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

private:
    void clear();
};

// The path from its last '.' on, lower-cased; empty when the path has no '.'.
std::string fileExtension(std::string path);

// Reverses the row order in place.
void flipRows(Image* image);
