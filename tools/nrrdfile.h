#pragma once

// Volumes as NRRD files through teem's nrrd library: unsigned char samples, grey (three axes
// x, y, z) or with a leading axis of 1 to 4 channels (grey, grey and alpha, RGB, RGBA).
//
// teem reads and writes whole arrays, so it is asked for the header only: on reading it parses
// the header, finds the data (attached or in one detached file, after any line and byte skips)
// and leaves the data file open there; the samples are then read slice by slice, raw ones
// directly and gzip ones through zlib. On writing it formats the header, and the raw samples
// follow slice by slice.

#include "volumestream.h"

std::string openNrrdSource(const QString& path, SliceSource* source);

// Raw RGB samples with the axis kinds, space and space directions (spacing 1) that ParaView
// and 3D Slicer need to open the file as an RGB volume.
std::string openNrrdSink(const QString& path, int n, SliceSink* sink);
