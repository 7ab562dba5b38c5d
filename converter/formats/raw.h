#pragma once

// Samples stored as plain bytes, x fastest, then y, then z, each sample the VolumeInfo's channels
// of its type: raw RGB files, .npy data and raw NRRD data are all this.

#include "inputformat.h"
#include "files.h"
#include "storedsamples.h"
#include "typedsource.h"

#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <memory>

// The samples of source->info, stored from offset in an open stream in the file's byte order
// (swapped to the host's when swap). The sizes are checked and the stream must hold them all;
// otherwise the reason. Fills source->read.
[[nodiscard]] std::string openRawSamples(std::shared_ptr<FileHandle> file, off_t offset, bool swap,
                                         TypedSource* source);

// A file of 3 * N^3 bytes of RGB samples, the .vol samples without their header; N comes from
// the length, and any other length is refused with the nearest sizes.
[[nodiscard]] std::string openRawVolume(const QString& path, TypedSource* source);

// Its entry in the table of formats.
InputFormat rawVolumeInputFormat();
