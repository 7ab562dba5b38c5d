#pragma once

// NIfTI-1 and NIfTI-2 volumes in one file (.nii, or .nii.gz compressed with gzip). The header is
// read and checked here, field by field in its own byte order, before anything trusts it;
// nifti_clib only turns the qform's quaternion into words. The voxel data is read a slice at a
// time from the exact file named.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <cstdint>
#include <string>

// Opens a .nii or .nii.gz file as a typed source. The fifth dimension (vector) and the RGB24
// and RGBA32 types become channels; volume picks one of the fourth dimension's volumes (time
// points, from 0; -1 where there is only one); pixdim gives the spacing, the sform (else the
// qform) the orientation; a scale slope other than 0 and 1 (or an intercept other than 0) gives
// float samples. Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openNiftiSource(const QString& path, int volume, TypedSource* source);

// The volumes along the fourth dimension of a NIfTI file whose header reads; 0 when it does not.
std::int64_t niftiVolumeCount(const QString& path);

// Their entries in the table of formats: a single file, and a pair (or an Analyze file).
InputFormat niftiInputFormat();
InputFormat analyzeInputFormat();
