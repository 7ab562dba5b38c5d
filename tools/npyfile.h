#pragma once

// NumPy's .npy file: the magic "\x93NUMPY", a version, a header length, a Python dict literal
// describing the array, then the array's bytes. Only arrays of unsigned bytes in C order with
// the shape (z, y, x, 3) (RGB) or (z, y, x) (grey) are volumes; everything else is refused.

#include "volumestream.h"

#include <string>
#include <vector>

struct NpyArray {
    int depth = 0, height = 0, width = 0; // the shape's first three entries
    int channels = 0;                     // 3, or 1 for a grey (three-entry) shape
    std::size_t dataOffset = 0;           // where the array's bytes start
};

// Checks the start of a .npy file (its first bytes, as many as there are) and fills array.
// Returns "" or the message.
std::string parseNpyHeader(const std::vector<unsigned char>& bytes, NpyArray* array);

// The header of an N x N x N x 3 array of unsigned bytes, as NumPy writes it (version 1.0,
// padded with spaces to a multiple of 64 bytes).
std::string encodeNpyHeader(int n);

std::string openNpySource(const QString& path, SliceSource* source);
std::string openNpySink(const QString& path, int n, SliceSink* sink);
