#pragma once

// Volumes as files hold them, before they become 8-bit RGB: any sample type, any number of
// channels, a spacing along each axis. A reader describes its input with a VolumeInfo and
// yields its slices as typed samples; the conversion to the viewer's RGB bytes (window, channel
// map, resampling) is done once, apart from every reader.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

enum class SampleType { UInt8, Int8, UInt16, Int16, UInt32, Int32, Float32, Float64 };

// Bytes of one sample of the type: 1, 2, 4 or 8.
std::size_t sampleTypeBytes(SampleType type);
// The type's short name as users see it: "uint8", "int16", "float32", ...
const char* sampleTypeName(SampleType type);

// What a reader knows of its input before reading any sample.
struct VolumeInfo {
    std::string format; // what the file is, in words: "NIfTI-1", "DICOM series", "MetaImage", ...
    int width = 0;      // samples along x (the file's first, fastest voxel axis, i)
    int height = 0;     // along y (j)
    int depth = 0;      // along z (k, the slices)
    int channels = 1;   // values per sample, interleaved
    SampleType type = SampleType::UInt8;
    int alphaChannel = -1;         // the channel the file marks as alpha, or -1
    double spacing[3] = {1, 1, 1}; // distance between samples along x, y, z, in the file's unit
    bool spacingKnown = false;     // whether the file gives the spacing along all three axes
    // Along which axes the file gives the spacing, where it gives only some (one DICOM slice:
    // its Pixel Spacing, no distance between slices); all true counts as spacingKnown.
    bool axisSpacingKnown[3] = {false, false, false};
    std::string spacingNote; // what the file tells of a spacing it does not give, or ""
    std::string orientation; // how the file's axes map to x, y, z, in words ("" when plain)
};

// A volume read one slice at a time as typed samples.
struct TypedSource {
    VolumeInfo info;
    // Fills samples with slice z: width * height * channels values of info.type in host byte
    // order, channels fastest, then x, then y. Within a pass calls come with growing z (some
    // slices possibly skipped); a call with a z below the last one starts a new pass, for which
    // the reader rewinds. Returns "" or the message, which names the file.
    std::function<std::string(int z, void* samples)> read;
    // Whether read may run for two slices at once (each slice a file of its own, say).
    bool concurrent = false;
    // Every file the reader reads besides the input named (a detached data file, the files of
    // a series), so that no output is written over one.
    std::vector<std::string> files;
};

// Which part of an input to read where it holds several: a DICOM series (-1: the only one)
// and a volume of a series of volumes, a time point say (-1: the only one).
struct InputSelection {
    int series = -1;
    int volume = -1;
};
