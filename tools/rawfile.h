#pragma once

// Samples stored as plain bytes, x fastest, then y, then z, each sample the VolumeInfo's channels
// of its type: raw RGB files, .npy data and raw NRRD data are all this. Also the checks every
// array reader makes on the sizes its header claims, before it allocates anything.

#include "helpers.h"
#include "typedsource.h"

#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <memory>

// Bytes of one slice of info (width * height * channels samples); 0 when that overflows.
std::uint64_t typedSliceBytes(const VolumeInfo& info);

// Whether a header's sizes make a volume that can be read here: every size at least 1, no
// product overflowing, and a few slices fitting the memory the system has available. Returns ""
// or the message (without the path).
std::string checkVolumeSizes(const VolumeInfo& info);

// Wraps source->read so that an exception thrown while reading (memory running out on a
// machine that promised it, say) becomes the message "PATH: out of memory" or the like instead
// of escaping into the converter's threads.
void guardReads(const QString& path, TypedSource* source);

// Reverses the byte order of count samples of `bytes` bytes each (2, 4 or 8; 1 does nothing).
void swapSampleBytes(void* samples, std::size_t count, std::size_t bytes);

// The samples of source->info, stored from offset in an open stream in the file's byte order
// (swapped to the host's when swap). The sizes are checked and the stream must hold them all;
// otherwise the message names path. Fills source->read.
std::string openRawSamples(const QString& path, std::shared_ptr<FileHandle> file, off_t offset,
                           bool swap, TypedSource* source);

// A file of 3 * N^3 bytes of RGB samples, the .vol samples without their header; N comes from
// the length, and any other length is refused with the nearest sizes.
std::string openRawVolume(const QString& path, TypedSource* source);
