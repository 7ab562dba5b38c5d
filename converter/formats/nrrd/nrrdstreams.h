#pragma once

// The samples of one NRRD data file, decoded forwards in the file's encoding: raw, gzip
// (through the inflater), bzip2 (through libbz2), hex digits or ASCII numbers (our own strict
// readers of those two layouts). A reader asks for the bytes of the samples in order, skipping
// any it does not need, and rewinds for a second pass.

#include "files.h"
#include "typedsource.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

enum class NrrdDataEncoding { Raw, Gzip, Bzip2, Hex, Ascii };

class NrrdStream {
public:
    virtual ~NrrdStream() = default;
    // Fills out with the next length bytes (whole samples of the type for ASCII, as the host
    // holds them; in the file's byte order for the others). "" or the reason.
    [[nodiscard]] virtual std::string next(unsigned char* out, std::size_t length) = 0;
    // Passes over the next length bytes; out, of at least chunk bytes, may be overwritten.
    [[nodiscard]] virtual std::string skip(std::uint64_t length, unsigned char* out,
                                           std::size_t chunk);
    // Back to the first sample; false when the file cannot seek.
    virtual bool rewind() = 0;

    std::uint64_t position = 0; // decoded bytes given out or passed over so far
};

// A stream of the samples in file from start on; type is what ASCII numbers are read as.
// The file stays open while the stream lives.
std::unique_ptr<NrrdStream> openNrrdStream(NrrdDataEncoding encoding,
                                           std::shared_ptr<FileHandle> file, off_t start,
                                           SampleType type);

// Whether the bytes left in a file can hold this many decoded bytes of samples of the type in
// the encoding (deflate's largest expansion, two hex digits a byte, a number and a separator a
// value); bzip2 has no useful bound and always may.
bool nrrdDataMayHold(NrrdDataEncoding encoding, std::uint64_t fileBytes, std::uint64_t sampleBytes,
                     SampleType type);
