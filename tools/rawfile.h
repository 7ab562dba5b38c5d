#pragma once

// Samples stored as plain bytes: x fastest, then y, then z, each sample 1 to 4 one-byte channels
// (grey, grey and alpha, RGB, RGBA). Raw RGB files, .npy data and raw NRRD data are all this.

#include "helpers.h"
#include "volumestream.h"

#include <sys/types.h>

#include <memory>

// The samples of a width x height x depth volume that start at offset in an open stream. The
// stream must hold them all; otherwise the message names path as truncated.
std::string openRawSamples(const QString& path, std::shared_ptr<FileHandle> file, off_t offset,
                           int width, int height, int depth, int channels, SliceSource* source);

// A file of exactly 3 * N^3 bytes of RGB samples, the .vol samples without their header.
std::string openRawVolume(const QString& path, int n, SliceSource* source);
