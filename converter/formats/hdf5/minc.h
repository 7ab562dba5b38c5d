#pragma once

// MINC2 images (.mnc): HDF5 with the image in /minc-2.0/image/0/image, its axes named by its
// dimorder attribute after the dimension variables in /minc-2.0/dimensions/ (their step, start
// and direction cosines in MINC's world, which is RAS+), and an integer image's real values
// given by the ranges in image-min and image-max beside it. Told from the list of the file's
// objects, as the other HDF5 layouts are.

#include "inputformat.h"
#include "hdf5/hdf5layouts.h"

#include <string>

// Whether the file holds a MINC2 group (no dataset named), or the dataset named lies in one.
bool isMinc2(const Hdf5Contents& contents, const std::string& dataset);

// The layout of the file's MINC2 image: the time point the selection picks, its axes'
// directions and spacing, and its real values. Returns "" or the reason.
[[nodiscard]] std::string readMincLayout(const Hdf5Contents& contents,
                                         const InputSelection& selection, Hdf5Layout* layout);

// Its entry in the table of formats.
InputFormat mincInputFormat();
