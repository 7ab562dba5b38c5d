#pragma once

// One DICOM file's pixels decoded through GDCM, put right where GDCM is not: 32-bit samples in
// big-endian files, RLE with more than one byte a sample, pixel data that ends early.

#include "typedsource.h"

#include <cstdint>
#include <string>
#include <vector>

// What every file of a series must hold, as the first one does.
struct DicomLayout {
    int columns = 0, rows = 0, frames = 1, channels = 1;
    SampleType type = SampleType::UInt8;
};

// One file's pixels: frames of rows x columns x channels samples of the layout's type, in host
// byte order, channels interleaved.
struct DicomPixels {
    std::vector<char> pixels;
    double slope = 1, intercept = 0;
    double spacing[3] = {1, 1, 1};
    double cosines[6] = {1, 0, 0, 0, 1, 0};
    // Whether the file gives the spacing along x and y, along z, and the orientation, rather
    // than GDCM's defaults standing in (functional groups of multi-frame files included).
    bool spacingGiven[3] = {false, false, false};
    bool orientationGiven = false;
    // Each frame's Image Position (x, y, z a frame) from the per-frame functional groups, when
    // every frame has one; empty otherwise.
    std::vector<double> framePositions;
    // Where the pixel data's value starts in the file when it is stored uncompressed, -1 when
    // it is not (the samples may still differ from those bytes: byte order, masked bits).
    std::int64_t storedAt = -1;
    // Whether the samples are those stored bytes, as found when the file was read whole: 1 or
    // 0, or -1 when not known (the bytes were not kept).
    int storedMatch = -1;
};

// Reads and decodes file. With fill, *layout is set from the file; otherwise the file must hold
// what *layout says. Returns "" or the message, which names the file (otherFileMessage).
[[nodiscard]] std::string decodeDicomFile(const std::string& file, DicomLayout* layout, bool fill,
                                          DicomPixels* decoded);

// The backslash-separated numbers of a DICOM value; empty when any is not a finite number.
std::vector<double> dicomNumbers(const char* value);
