#pragma once

// TIFF files written through libtiff for the reader tests: pages of any layout, and damage.

#include <tiffio.h>

#include <string>
#include <vector>

// One TIFF page: samples as stored (channels, x, then rows from the top).
struct TiffPage {
    int width = 3, height = 2, channels = 1, bits = 8, format = SAMPLEFORMAT_UINT;
    std::string samples;
    int photometric = PHOTOMETRIC_MINISBLACK;
    bool alpha = false, planar = false, tiled = false;
    int compression = COMPRESSION_NONE;
    std::string description;
    // Reduced resolutions of the page, marked reduced images: its SubIFDs, or with
    // reducedInChain pages that follow it in the chain.
    std::vector<TiffPage> reduced;
    bool reducedInChain = false;
};

// Writes the pages to path, one directory each (and one for each reduced resolution); BigTIFF
// with big.
void writeTiff(const char* path, const std::vector<TiffPage>& pages, bool big = false);

// Overwrites the compressed data of the first strip or tile of the first page, past its first
// two bytes, with 0xff.
void damageFirstBlock(const char* path);
