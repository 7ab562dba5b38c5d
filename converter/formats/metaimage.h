#pragma once

// MetaImage volumes: a text header of "Key = value" lines, then the samples, either in the same
// file (.mha, ElementDataFile = LOCAL) or in a data file named by the header (.mhd), raw or
// zlib-compressed. Samples run channels fastest, then x, y, z.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <cstdint>
#include <string>

struct MetaImageHeader {
    int sizes[3] = {0, 0, 0}; // DimSize: x, y, z
    int channels = 1;         // ElementNumberOfChannels
    SampleType type = SampleType::UInt8;
    double spacing[3] = {1, 1, 1};
    bool spacingKnown = false;
    bool bigEndian = false;           // BinaryDataByteOrderMSB
    bool compressed = false;          // CompressedData
    std::int64_t compressedSize = -1; // CompressedDataSize, -1 when not given
    std::int64_t headerSize = 0;      // HeaderSize of the data file, -1: data at its end
    std::string dataFile;             // "LOCAL", or a path relative to the header's folder
    AxisDirections axes;              // from TransformMatrix or AnatomicalOrientation
    std::size_t headerLength = 0;     // bytes of the header text (LOCAL data follows)
};

// Parses header text that ends at (and includes) the ElementDataFile line; text may run on into
// the data, which is ignored. Keys it does not use are passed over; a key it uses given twice,
// and sizes that do not fit, are refused. Returns "" or the message (without a path).
[[nodiscard]] std::string parseMetaImageHeader(const std::string& text, MetaImageHeader* header);

// Opens a .mha or .mhd file as a typed source: the header is checked, the data file found
// (never outside the header's folder, only a regular file) and its length checked for raw data;
// compressed data is inflated as it is read. Returns "" or the bare reason (one about the data
// file names it), as do its reads.
[[nodiscard]] std::string openMetaImageSource(const QString& path, TypedSource* source);

// Its entry in the table of formats.
InputFormat metaImageInputFormat();
