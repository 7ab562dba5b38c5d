#pragma once

// Volumes as stacks of 2D pictures, one a slice, z = 0 first: read through Qt's image reader in
// any format it knows, written as PNG. A picture shows its slice as the viewer does, the top row
// being y = N - 1.

#include "inputformat.h"
#include "typedsource.h"
#include "slicestream.h"

#include <QStringList>

// The slice pictures that inputs name, in natural order (slice2 before slice10): the pictures
// of the one folder given, or the files given. A folder's pictures must be regular files inside
// it (links followed) with names in UTF-8. Returns "" or the reason (a reason about one of the
// pictures names it).
[[nodiscard]] std::string listSliceFiles(const QStringList& inputs, QStringList* files);

// Slices all of the first one's size, as 8-bit grey, RGB or RGBA, or 16-bit grey, RGB or RGBA
// as the first picture is (alpha marked); a picture of another size is refused when its turn
// comes, before it is decoded. Sides up to 16384 are read; Qt's own warnings are silenced.
[[nodiscard]] std::string openSliceSource(const QStringList& files, TypedSource* source);

// The compression of the PNG slices unpack writes, on QImageWriter's scale of 0 to 100, which
// Qt maps onto zlib's levels 0 to 9: 15 is level 1, the fastest that compresses. The slices are
// for handing to other tools, not for keeping: level 1 writes them several times as fast as Qt's
// default (level 6) for files about 1.2 times as large; tessary-bench --packing measures both.
const int slicePngCompression = 15;

// A folder of PNG slices named slice_0000.png, slice_0001.png, ..., at slicePngCompression;
// the folder must not exist yet or be empty.
[[nodiscard]] std::string openSliceFolderSink(const QString& folder, int n, SliceSink* sink);

// The slice pictures that paths name (a folder of them, or the pictures themselves) as a
// source: listSliceFiles, then openSliceSource.
[[nodiscard]] std::string openSlicePictures(const QStringList& paths, TypedSource* source);

// Its entry in the table of formats.
InputFormat slicePicturesInputFormat();
