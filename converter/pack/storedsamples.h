#pragma once

// Checks and conversions that every reader of typed volumes shares.

#include "typedsource.h"

#include <cstdint>
#include <string>

// Checks the sizes a header claims before anything is allocated: each side from 1 to 2^31 - 1,
// 1 to maxChannels channels, a whole volume whose byte count fits 63 bits and a slice that
// fits well within the memory the system has available. Fills *volumeBytes (may be null).
// Returns "" or the message (without a path).
[[nodiscard]] std::string checkVolumeSizes(std::int64_t width, std::int64_t height,
                                           std::int64_t depth, std::int64_t channels,
                                           SampleType type, std::uint64_t* volumeBytes);

// The same for the sizes of info.
[[nodiscard]] std::string checkVolumeSizes(const VolumeInfo& info);

// Checks the volume asked for (-1: none) against the volumes that a file holds along an axis of
// time points or a list; holds says what it holds, in words ("NIfTI of 5 volumes along its
// fourth dimension"), for the refusal that asks for --volume. Fills *picked (0 for a file of
// one volume). Returns "" or the reason.
[[nodiscard]] std::string pickVolume(std::int64_t volumes, int volume, const std::string& holds,
                                     std::int64_t* picked);

// Wraps source->read so that an exception thrown while reading (memory running out on a
// machine that promised it, say) becomes the bare reason "out of memory" or the like instead of
// escaping into the converter's threads; the door names the file.
void guardReads(TypedSource* source);

// Bytes of one slice of the info's volume: width * height * channels * sample bytes.
std::size_t sliceBytes(const VolumeInfo& info);

// Reverses the byte order of count samples of the type in place (a no-op for one-byte types).
void swapSampleBytes(SampleType type, std::size_t count, void* samples);

// How a file stores its samples: their type and byte order, and the linear map
// (value * slope + intercept) to the values they stand for.
struct StoredSamples {
    SampleType type = SampleType::UInt8;
    bool swapped = false; // in the other byte order than the host's
    double slope = 1, intercept = 0;

    // Whether the map changes any value: slope and intercept finite, slope not 0, and not the
    // identity.
    bool rescaled() const;
    // The type of the values: the stored type, or float32 when rescaled (float64 from float64).
    SampleType valueType() const;
    // Converts count samples in `stored` (swapped in place) into values of type `to` in out:
    // the stored type unmapped (a copy, none when out is stored), or a float type through the
    // map. out may be stored only when the two types are of one size.
    void convert(void* stored, std::size_t count, SampleType to, void* out) const;
};

// Gives source the slices readStored reads in the layout `stored`: source->read converts them
// into source->info.type (a buffer of the stored slice a thread, kept between reads, where the
// types differ in size).
void readThrough(const StoredSamples& stored,
                 std::function<std::string(int z, void* samples)> readStored, TypedSource* source);
