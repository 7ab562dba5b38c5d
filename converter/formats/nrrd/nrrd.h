#pragma once

// Volumes as NRRD files through teem's nrrd library: 8-, 16- and 32-bit integers (signed or
// not), floats and doubles, grey (three axes x, y, z) or with a leading axis of channels (kind
// RGB-color, RGBA-color, vector, list, ...; RGBA's fourth is alpha). Spacing comes from
// "spacings" or the lengths of "space directions".
//
// teem reads and writes whole arrays, so it is asked for the header only: on reading it parses
// the header (looked over first, nrrdheader.h), finds the data (attached, in one detached file
// or in several, after any line and byte skips) and leaves a single data file open there; the
// samples are then read slice by slice in their encoding (nrrddata.h). On writing it formats the
// header, and the raw samples follow slice by slice.

#include "inputformat.h"
#include "typedsource.h"
#include "slicestream.h"

// Of four axes with one of time points or a list of volumes beside three of space (first, as
// channels are, or last, as Slicer's sequences keep them), the volume picked is read (volume -1:
// none, refused where there are several).
[[nodiscard]] std::string openNrrdSource(const QString& path, int volume, TypedSource* source);

// Raw RGB samples with the axis kinds, space and space directions (spacing 1) that ParaView
// and 3D Slicer need to open the file as an RGB volume.
[[nodiscard]] std::string openNrrdSink(const QString& path, int n, SliceSink* sink);

// Its entry in the table of formats.
InputFormat nrrdInputFormat();
