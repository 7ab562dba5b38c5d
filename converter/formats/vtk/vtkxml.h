#pragma once

// VTK's XML image data (.vti), as ParaView and vtkXMLImageDataWriter save it: one Piece that
// covers WholeExtent, Spacing and Direction (VTK's world axes, as the legacy reader's), and the
// point data's array that --dataset or Scalars names (else the only one) of 1 to 4 components.
// ASCII, inline base64 and appended (raw or base64) arrays, uncompressed, zlib, LZ4 or LZMA,
// either byte order and a UInt32 or UInt64 header. Every size the file claims is checked against
// the volume and the file's length before anything is allocated or decoded. Appended raw data is
// read a slice at a time, decoding only the compressed blocks the slice covers; ASCII and base64
// arrays are decoded whole, within the memory available.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>
#include <vector>

// Opens a .vti file as a typed source. Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openVtiSource(const QString& path, const std::string& dataset,
                                        TypedSource* source);

// The names of the file's point data arrays, as --dataset takes them; none where the file
// can't be read.
std::vector<std::string> vtiArrayNames(const QString& path);

// Its entry in the table of formats.
InputFormat vtiInputFormat();
