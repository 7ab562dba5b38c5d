#pragma once

// Volumes as NRRD files through teem's nrrd library: 8-, 16- and 32-bit integers (signed or
// not), floats and doubles, grey (three axes x, y, z) or with a leading axis of channels (kind
// RGB-color, RGBA-color, vector, list, ...; RGBA's fourth is alpha). Spacing comes from
// "spacings" or the lengths of "space directions".
//
// teem reads and writes whole arrays, so it is asked for the header only: on reading it parses
// the header, finds the data (attached or in one detached file, after any line and byte skips)
// and leaves the data file open there; the samples are then read slice by slice, raw ones
// directly and gzip ones (any number of gzip members) through zlib. On writing it formats the
// header, and the raw samples follow slice by slice.
//
// The header is looked over before teem sees it: a detached data file must be a regular file in
// the header's folder or below it, and a header of more than maxNrrdKeyValues key/value lines or
// maxNrrdHeaderLines lines in all is refused (teem adds each key/value and comment line in time
// growing with the number before it; real headers have a few dozen lines).

#include "typedsource.h"
#include "slicestream.h"

const int maxNrrdKeyValues = 1000;
const int maxNrrdHeaderLines = 10000;

// Of four axes with one of time points or a list of volumes beside three of space (first, as
// channels are, or last, as Slicer's sequences keep them), the volume picked is read (volume -1:
// none, refused where there are several).
[[nodiscard]] std::string openNrrdSource(const QString& path, int volume, TypedSource* source);

// Raw RGB samples with the axis kinds, space and space directions (spacing 1) that ParaView
// and 3D Slicer need to open the file as an RGB volume.
[[nodiscard]] std::string openNrrdSink(const QString& path, int n, SliceSink* sink);
