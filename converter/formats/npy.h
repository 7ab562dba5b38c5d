#pragma once

// NumPy's .npy file: the magic "\x93NUMPY", a version, a header length, a Python dict literal
// describing the array, then the array's bytes. Arrays in C order of 8-, 16- and 32-bit integers
// (signed or not) and 32- and 64-bit floats, of either byte order, with the shape (z, y, x)
// (grey) or (z, y, x, c) (c channels, the last of 2 or 4 taken as alpha) are volumes;
// everything else is refused.

#include "inputformat.h"
#include "typedsource.h"
#include "slicestream.h"

#include <string>
#include <vector>

struct NpyArray {
    int depth = 0, height = 0, width = 0; // the shape's first three entries
    int channels = 0;                     // the fourth entry, or 1 for a grey (three-entry) shape
    SampleType type = SampleType::UInt8;
    bool swap = false;          // whether the samples' byte order is not the host's
    std::size_t dataOffset = 0; // where the array's bytes start
};

// Checks the start of a .npy file (its first bytes, as many as there are) and fills array.
// Returns "" or the message.
[[nodiscard]] std::string parseNpyHeader(const std::vector<unsigned char>& bytes, NpyArray* array);

// The header of an N x N x N x 3 array of unsigned bytes, as NumPy writes it (version 1.0,
// padded with spaces to a multiple of 64 bytes).
[[nodiscard]] std::string encodeNpyHeader(int n);

// The volume info of an array: its sizes, type and channels (a last axis of 2 or 4 taken as
// alpha), placed nowhere.
void describeNpyArray(const NpyArray& array, const std::string& format, VolumeInfo* info);

[[nodiscard]] std::string openNpySource(const QString& path, TypedSource* source);
[[nodiscard]] std::string openNpySink(const QString& path, int n, SliceSink* sink);

// Its entry in the table of formats.
InputFormat npyInputFormat();
