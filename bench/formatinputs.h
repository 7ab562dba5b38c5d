#pragma once

// The typed packing rows' inputs in the formats read through a reference library or a plain
// layout (MRC, NRRD, MGH, FITS), each with the read its field would time it against: the
// format's own library where there is one (teem, cfitsio), otherwise a plain read of the
// layout (mrcfile and nibabel read MRC and MGH samples with numpy from the stream).

#include <QString>

#include <string>

// Writes samples (int16, little-endian, x fastest) of width x height x depth as name.mrc,
// name.nrrd (gzip), name.mgz and name.fits in folder; false when one cannot be written.
bool writeFormatInputs(const QString& folder, const QString& name, int width, int height, int depth,
                       const std::string& samples);

// Reads every sample of path as its reference reader does: kind "mrc", "nrrd", "mgz" or
// "fits". 0 when it read them, 1 when it failed, 2 for another kind.
int readFormatAlone(const std::string& kind, const QString& path);
