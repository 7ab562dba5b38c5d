#pragma once

// Bare samples of the shape --raw states (pack scan.bin --raw 256,256,100,uint16,be), of any
// name: nothing in the file is read but its length and the samples. As Fiji's File > Import >
// Raw takes them, bytes after the samples are left out (the closing line says how many) and
// --offset passes over a header; a file shorter than offset plus the shape's bytes is refused
// with both lengths. The samples show as an array does: placed nowhere, spacing unknown.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>

// Opens path as samples of shape. Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openRawShapeSource(const QString& path, const RawShape& shape,
                                             TypedSource* source);

// Its entry in the table of formats.
InputFormat rawShapeInputFormat();
