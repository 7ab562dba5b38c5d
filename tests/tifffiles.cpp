#include "tifffiles.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdint>

namespace {
void setFields(TIFF* tiff, const TiffPage& p) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, p.channels);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, p.format);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, p.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                 p.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    if (p.alpha)
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    if (!p.description.empty())
        TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, p.description.c_str());
    if (p.photometric == PHOTOMETRIC_PALETTE) {
        static std::uint16_t map[3][256];
        for (int i = 0; i < 256; ++i)
            map[0][i] = map[1][i] = map[2][i] = std::uint16_t(i * 257);
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
    }
}

void writeSamples(TIFF* tiff, const TiffPage& p) {
    const std::size_t bytes = std::size_t(p.bits / 8);
    const std::size_t pixel = bytes * std::size_t(p.channels);
    const std::size_t row = pixel * std::size_t(p.width);
    if (p.tiled) { // one 16 x 16 tile, contiguous channels
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        std::string tile(16 * 16 * pixel, '\0');
        for (int r = 0; r < p.height; ++r)
            tile.replace(std::size_t(r) * 16 * pixel, row,
                         p.samples.substr(std::size_t(r) * row, row));
        TIFFWriteTile(tiff, &tile[0], 0, 0, 0, 0);
    }
    for (int plane = 0; !p.tiled && plane < (p.planar ? p.channels : 1); ++plane)
        for (int r = 0; r < p.height; ++r) {
            std::string line = p.samples.substr(std::size_t(r) * row, row);
            if (p.planar) {
                std::string one;
                for (int x = 0; x < p.width; ++x)
                    one += line.substr(std::size_t(x) * pixel + std::size_t(plane) * bytes, bytes);
                line = one;
            }
            TIFFWriteScanline(tiff, &line[0], std::uint32_t(r), std::uint16_t(plane));
        }
}

void writePage(TIFF* tiff, const TiffPage& p, bool reduced) {
    setFields(tiff, p);
    if (reduced)
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    // libtiff fills in the SubIFDs' offsets as the next directories are written.
    const std::vector<toff_t> subIfds(p.reducedInChain ? 0 : p.reduced.size(), 0);
    if (!subIfds.empty())
        TIFFSetField(tiff, TIFFTAG_SUBIFD, std::uint16_t(subIfds.size()), subIfds.data());
    writeSamples(tiff, p);
    TIFFWriteDirectory(tiff);
    for (const TiffPage& r : p.reduced)
        writePage(tiff, r, true);
}
} // namespace

void writeTiff(const char* path, const std::vector<TiffPage>& pages, bool big) {
    TIFF* tiff = TIFFOpen(path, big ? "w8" : "w");
    ASSERT_TRUE(tiff);
    for (const TiffPage& p : pages)
        writePage(tiff, p, false);
    TIFFClose(tiff);
}

void damageFirstBlock(const char* path) {
    TIFF* tiff = TIFFOpen(path, "r");
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    const bool tiled = TIFFIsTiled(tiff);
    TIFFGetField(tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets);
    TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts);
    const std::uint64_t offset = offsets[0], count = counts[0];
    TIFFClose(tiff);
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    file.seek(qint64(offset + 2));
    file.write(std::string(count - 2, '\xff').c_str(), qint64(count - 2));
}
