#pragma once

// Volumes as multi-page TIFF files through libtiff, one page a slice, z = 0 first. A page shows
// its slice as the viewer does, the top row being y = N - 1.

#include "inputformat.h"
#include "typedsource.h"
#include "slicestream.h"

// Grey or RGB pages of 8-, 16- or 32-bit integers or 32- and 64-bit floats (in strips or tiles,
// channels interleaved or in planes) are read as they are stored, an extra sample marked alpha
// being the alpha channel; palette, bilevel, YCbCr and other kinds become 8-bit RGB(A) through
// libtiff's RGBA reader. Every page must have the first one's layout; any libtiff error is a
// refusal. ImageJ hyperstacks ("channels=" in the ImageJ description) and OME-TIFF ("SizeC" in
// its OME-XML) keep a page per channel: their channels are read as channels, never as slices,
// and their spacing is read (ImageJ's "spacing=" and resolution tags, OME's PhysicalSize*).
// Of a time series (ImageJ frames, OME's SizeT), the time point volume is read; one must be
// picked (volume -1: none). Reduced resolutions are levels of a pyramid, x and y reduced and
// the slices kept: the SubIFDs of every page (OME-TIFF), or else pages marked reduced images
// (SUBFILETYPE) in the chain, never read as slices; the level read is the coarsest that still
// has selection.size samples a side.
[[nodiscard]] std::string openTiffSource(const QString& path, const InputSelection& selection,
                                         TypedSource* source);

// Uncompressed 8-bit RGB pages; BigTIFF when the samples would not fit a classic TIFF.
[[nodiscard]] std::string openTiffSink(const QString& path, int n, SliceSink* sink);

// Its entry in the table of formats.
InputFormat tiffInputFormat();
