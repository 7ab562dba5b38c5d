#pragma once

// FreeSurfer's MGH volumes (.mgh, and .mgz or .mgh.gz compressed with gzip): a big-endian header
// of version 1 (width, height, depth, frames, type, dof, goodRASFlag, spacing, the direction
// cosines Mdc and the centre), samples from byte 284 in Fortran order (x fastest) a frame after
// the other, then optional tags, which are passed over. Types UCHAR (uint8), INT (int32),
// FLOAT (float32) and SHORT (int16). Where goodRASFlag is set, the spacing and the direction
// of each voxel axis in the patient's RAS+ frame come from the header; where it is not, the
// header gives neither, and the axes are FreeSurfer's own default (coronal slices: x to the
// left, y inferior, z anterior). --volume picks one frame of several.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <cstdint>
#include <string>

// Opens an MGH or MGZ file as a typed source; volume picks a frame (-1: the only one).
// Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openMghSource(const QString& path, int volume, TypedSource* source);

// The frames of an MGH file whose header reads; 0 when it does not.
std::int64_t mghFrameCount(const QString& path);

// Its entry in the table of formats.
InputFormat mghInputFormat();
