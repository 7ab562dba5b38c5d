#pragma once

// NIfTI-1 and NIfTI-2 volumes in one file (.nii, or .nii.gz compressed with gzip). nifti_clib
// decodes the header; the voxel data is read here, a slice at a time, from the exact file
// named (the library, handed a name, may pick the data of a same-named .nii or .nii.gz).

#include "typedsource.h"

#include <QString>

#include <string>

// Opens a .nii or .nii.gz file as a typed source. The fifth dimension (vector) and the RGB24
// and RGBA32 types become channels; volume picks a time point (-1: the only one); pixdim gives the
// spacing, the qform (else the sform) the orientation; a scale slope other than 0 and 1 (or an
// intercept other than 0) gives float samples. Returns "" or the message, which names the file.
std::string openNiftiSource(const QString& path, int volume, TypedSource* source);
