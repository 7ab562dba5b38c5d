#pragma once

// Volumes as multi-page TIFF files through libtiff, one page a slice, z = 0 first. A page shows
// its slice as the viewer does, the top row being y = N - 1.

#include "volumestream.h"

// Pages of 8 or 16 bits per sample, grey or RGB with or without alpha, are read exactly (16-bit
// values scaled to 8 bits, alpha dropped); any other kind libtiff knows goes through its RGBA
// reader. Every page must have the first one's size.
std::string openTiffSource(const QString& path, SliceSource* source);

// Uncompressed 8-bit RGB pages; BigTIFF when the samples would not fit a classic TIFF.
std::string openTiffSink(const QString& path, int n, SliceSink* sink);
