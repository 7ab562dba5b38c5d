#pragma once

// Volumes in HDF5 files: Imaris (.ims) and BigDataViewer (.h5) pyramids, and any 3-D or 4-D
// dataset named with --dataset. libhdf5 runs only in contained child processes; the samples
// come a slab of chunks at a time, so memory stays bounded whatever the file's size.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <string>

// Whether the file is one to open as HDF5: by its extension (.h5, .hdf5, .he5, .ims) or its
// signature at the start.
bool isHdf5File(const QString& path);

// Opens the volume the selection picks: --dataset a dataset (or a BigDataViewer setup, "s01"),
// --volume a time point, --size the pyramid level (the coarsest with that many samples a side).
// Returns "" or the message, which names the file at fault.
std::string openHdf5Source(const QString& path, const InputSelection& selection,
                           TypedSource* source);

// A MINC2 file (.mnc) as openHdf5Source opens it; a MINC1 file (netCDF) is refused, saying how
// to convert it.
[[nodiscard]] std::string openMincSource(const QString& path, const InputSelection& selection,
                                         TypedSource* source);

// What info adds about an HDF5 file: a pyramid's levels and which one pack reads, or the
// datasets of a file of no known layout. "" for other files.
std::string describeHdf5(const QString& path, const InputSelection& selection);

// What info prints of an HDF5 file (a MINC2 one too) it refuses: describeHdf5's lines.
void printHdf5Contents(const QString& path);

// Its entry in the table of formats.
InputFormat hdf5InputFormat();
