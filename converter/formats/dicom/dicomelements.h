#pragma once

// A strict walk over a DICOM file's elements that checks each stated length against the
// file's end before GDCM reads them: GDCM allocates, and zero-fills, whatever length an element
// claims, so a file of a few hundred bytes can make it fill gigabytes.

#include <string>

// The reason dicomLengthFault gives.
extern const char dicomLengthRunsPast[];

// Why file cannot be read as stored: an element up to the pixel data (or an item or fragment
// inside one) whose stated length runs past the file's end. "" when every length fits, and
// when the file's layout is not one this walk knows for certain (big-endian or deflated data
// sets, files without meta information that do not start with an element), which GDCM then
// judges alone. Needs no GDCM.
[[nodiscard]] std::string dicomLengthFault(const std::string& file);
