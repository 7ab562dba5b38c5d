#pragma once

// Checks and conversions that every reader of typed volumes shares.

#include "typedsource.h"

#include <QString>

#include <cstdint>
#include <string>

// Checks the sizes a header claims before anything is allocated: each side from 1 to 2^31 - 1,
// 1 to maxChannels channels, a whole volume whose byte count fits 63 bits and a slice that
// fits well within the memory the system has available. Fills *volumeBytes (may be null).
// Returns "" or the message (without a path).
std::string checkVolumeSizes(std::int64_t width, std::int64_t height, std::int64_t depth,
                             std::int64_t channels, SampleType type, std::uint64_t* volumeBytes);

// The same for the sizes of info.
std::string checkVolumeSizes(const VolumeInfo& info);

// Wraps source->read so that an exception thrown while reading (memory running out on a
// machine that promised it, say) becomes the message "PATH: out of memory" or the like instead
// of escaping into the converter's threads.
void guardReads(const QString& path, TypedSource* source);

// Bytes of one slice of the info's volume: width * height * channels * sample bytes.
std::size_t sliceBytes(const VolumeInfo& info);

// Reverses the byte order of count samples of the type in place (a no-op for one-byte types).
void swapSampleBytes(SampleType type, std::size_t count, void* samples);

// Applies value * slope + intercept to count samples of the type in "from", writing float32
// (or float64 when to is Float64) into "to"; from and to may be the same buffer only when the
// types have the same size.
void rescaleSamples(SampleType from, const void* in, std::size_t count, double slope,
                    double intercept, SampleType to, void* out);

// Where a direction in patient space runs, in words, along its dominant axis: "right to left"
// for a vector along +x when positive[0] is "left" and negative[0] "right" (DICOM's LPS).
std::string directionWords(const double vector[3], const char* const positive[3],
                           const char* const negative[3]);
