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

struct DecodedDicomFiles {
    // Moves file's pixels into *decoded and forgets them, if they were handed back and hold
    // what layout says; false otherwise (the file is then decoded again). Safe from two threads.
    bool take(const std::string& file, const DicomLayout& layout, DicomPixels* decoded);

    std::mutex lock;
    struct Entry {
        DicomLayout layout;
        double slope = 1, intercept = 0;
        std::vector<char> pixels;
    };
    std::map<std::string, Entry> files;
};

// The bytes of decoded pixels the child hands back in all: a quarter of its address-space
// limit and of the memory available now.
std::uint64_t decodedDicomBudget();

// Writes one decoded file, for readDecodedDicom.
void writeDecodedDicom(ResultWriter* out, const std::string& file, const DicomLayout& layout,
                       const DicomPixels& decoded);

// Reads count decoded files into *files; false when the bytes are damaged.
bool readDecodedDicom(ResultReader* in, std::uint64_t count, DecodedDicomFiles* files);
