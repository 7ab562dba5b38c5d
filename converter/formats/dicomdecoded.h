#pragma once

// Compressed DICOM files that the contained child decoded while it tried them, handed back with
// its scan so that the converter does not decode them again: each file's layout, rescale and
// pixels, as many as fit a share of the memory both processes have.

#include "dicompixels.h"
#include "resultbytes.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// One file's decoded pixels as they travel from the child.
struct DecodedDicomFile {
    std::string path;
    int columns = 0, rows = 0, frames = 0, channels = 0, type = 0; // its DicomLayout
    double slope = 1, intercept = 0;
    // The geometry the series' first file gives (DicomPixels'), for a file read first.
    std::vector<double> spacing, cosines, framePositions;
    bool spacingGiven[3] = {false, false, false}, orientationGiven = false;
    std::vector<char> pixels;
};

template <typename Io> bool fieldsOf(Io& io, DecodedDicomFile& file) {
    return io.field(file.path) && io.field(file.columns) && io.field(file.rows) &&
           io.field(file.frames) && io.field(file.channels) && io.field(file.type) &&
           io.field(file.slope) && io.field(file.intercept) && io.field(file.spacing) &&
           io.field(file.cosines) && io.field(file.framePositions) &&
           io.field(file.spacingGiven[0]) && io.field(file.spacingGiven[1]) &&
           io.field(file.spacingGiven[2]) && io.field(file.orientationGiven) &&
           io.field(file.pixels);
}

struct DecodedDicomFiles {
    // Moves file's pixels into *decoded and forgets them, if they were handed back and hold
    // what layout says; false otherwise (the file is then decoded again). Safe from two threads.
    bool take(const std::string& file, const DicomLayout& layout, DicomPixels* decoded);
    // The same for the file read first, whose layout it sets: false when not handed back or
    // its layout is no image's.
    bool takeFirst(const std::string& file, DicomLayout* layout, DicomPixels* decoded);
    // The bytes of pixels still held.
    std::uint64_t bytes();

    std::mutex lock;
    std::map<std::string, DecodedDicomFile> files;
};

// The bytes of decoded pixels the child hands back in all: a quarter of its address-space
// limit and of the memory available now.
std::uint64_t decodedDicomBudget();

// The file's decoded pixels as they travel, taken from decoded.
DecodedDicomFile decodedDicomFile(const std::string& path, const DicomLayout& layout,
                                  DicomPixels&& decoded);

// Reads the list of decoded files into *files; false when the bytes are damaged.
bool readDecodedDicom(ResultReader* in, DecodedDicomFiles* files);
