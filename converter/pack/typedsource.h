#pragma once

// Volumes as files hold them, before they become 8-bit RGB: any sample type, any number of
// channels, a spacing along each axis. A reader describes its input with a VolumeInfo and
// yields its slices as typed samples; the conversion to the viewer's RGB bytes (window, channel
// map, resampling) is done once, apart from every reader.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class SampleType { UInt8, Int8, UInt16, Int16, UInt32, Int32, Float32, Float64 };

// Bytes of one sample of the type: 1, 2, 4 or 8.
std::size_t sampleTypeBytes(SampleType type);
// The type's short name as users see it: "uint8", "int16", "float32", ...
const char* sampleTypeName(SampleType type);

// Calls f with a null pointer of the C++ type that holds samples of the given type.
template <typename F> void withSampleType(SampleType type, F&& f) {
    switch (type) {
    case SampleType::UInt8:
        return f(static_cast<const std::uint8_t*>(nullptr));
    case SampleType::Int8:
        return f(static_cast<const std::int8_t*>(nullptr));
    case SampleType::UInt16:
        return f(static_cast<const std::uint16_t*>(nullptr));
    case SampleType::Int16:
        return f(static_cast<const std::int16_t*>(nullptr));
    case SampleType::UInt32:
        return f(static_cast<const std::uint32_t*>(nullptr));
    case SampleType::Int32:
        return f(static_cast<const std::int32_t*>(nullptr));
    case SampleType::Float32:
        return f(static_cast<const float*>(nullptr));
    case SampleType::Float64:
        return f(static_cast<const double*>(nullptr));
    }
}

struct StoredSamples;

// One level of a multi-resolution input (a pyramid), in the file's voxel axes x, y, z.
struct PyramidLevel {
    int sizes[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    std::string name; // the level's own name in the file ("0", "s1", "ResolutionLevel 2"), or ""
};

// What the file says its channels should look like, where it says it (OME-Zarr's "omero"):
// the colour each channel is shown in and its display window.
struct ChannelDisplay {
    int colour = -1; // 0 red, 1 green, 2 blue, -1 any other or none given
    bool windowGiven = false;
    double lo = 0, hi = 0; // the display window, when given
};

// Where a file's voxel axes point, as far as the file says; the volume's axes follow from it
// by one rule (orientation.h).
enum class AxisFrame {
    Viewer, // the viewer's own sample order (.vol, raw RGB): kept as it is
    Array,  // an array or pictures placed nowhere: each slice's first row shown at the top
    World,  // placed in a patient's or the world's frame: the directions below
};

struct AxisDirections {
    AxisFrame frame = AxisFrame::Array;
    // For World: the direction of the file's axes i, j, k (one row each), in RAS+ where the
    // frame is a patient's (x toward the right, y anterior, z superior), else in the world's
    // own right-handed x, y, z. Lengths do not matter.
    double axis[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    bool patient = true;
    std::string from; // what in the file gives them: "the sform", "Image Orientation (Patient)"
};

// What a reader knows of its input before reading any sample.
struct VolumeInfo {
    std::string format; // what the file is, in words: "NIfTI-1", "DICOM series", "MetaImage", ...
    int width = 0;      // samples along x (the file's first, fastest voxel axis, i)
    int height = 0;     // along y (j)
    int depth = 0;      // along z (k, the slices)
    int channels = 1;   // values per sample, interleaved
    SampleType type = SampleType::UInt8;
    // The file's own sample type where the reader maps it onto type, as pack and info name it
    // ("bool (read as 0 and 255)"), or "".
    std::string storedType;
    int alphaChannel = -1;         // the channel the file marks as alpha, or -1
    double spacing[3] = {1, 1, 1}; // distance between samples along x, y, z, in the file's unit
    bool spacingKnown = false;     // whether the file gives the spacing along all three axes
    // Along which axes the file gives the spacing, where it gives only some (one DICOM slice:
    // its Pixel Spacing, no distance between slices); all true counts as spacingKnown.
    bool axisSpacingKnown[3] = {false, false, false};
    std::string spacingNote; // what the file tells of a spacing it does not give, or ""
    std::string spacingUnit; // the unit of spacing where the file names it ("deg", "mm"), or ""
    AxisDirections axes;     // where the file's axes point, by which they become x, y, z
    std::string note;        // what the reader left out of the input, in words, or ""
    // What the reader chose where the file is silent, as pack's closing line tells it ("spacing
    // from the levels' shapes"), or "".
    std::string choices;
    // A pyramid's levels, finest first, and the one this source reads (-1: not a pyramid);
    // width, height, depth and spacing above are those of the level read.
    std::vector<PyramidLevel> levels;
    int level = -1;
    // The file's own display of each channel, or empty; the default channel map and windows
    // come from it where it gives them.
    std::vector<ChannelDisplay> channelDisplay;
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
    // The bytes read holds while it runs and between calls beyond the slice it fills (a
    // chunked input's decoded chunks), so that pack's memory check counts them.
    std::uint64_t memory = 0;
    // Every file the reader reads besides the input named (a detached data file, the files of
    // a series), so that no output is written over one.
    std::vector<std::string> files;
    // Whether reading a slice again costs more than keeping it (inflating, decoding): a pass
    // over every slice then keeps them for the next pass.
    bool costlyReads = false;
    // Where the reader can: how its samples are stored, and slices read as stored (read is
    // readStored converted into info.type), so that a later step can fold the conversion into
    // its own work. Null otherwise.
    std::shared_ptr<const StoredSamples> stored;
    std::function<std::string(int z, void* stored)> readStored;
    // Where the reader can spare reading channels nobody uses (channels stored apart, each its
    // own stream): told the channels used before the first read; the others then read as 0.
    // Null otherwise.
    std::function<void(const std::vector<int>& used)> useChannels;
};

// The shortest side of level l, along the axes where the finest level has more than one sample,
// at cubic samples of the finest level's finest spacing times the level's largest reduction
// along any axis (so that a level reduced in x and y alone counts as reduced): the largest N
// for which it has enough. -1 when its spacing is not positive.
long long pyramidLevelSide(const std::vector<PyramidLevel>& levels, int l);

// The level of a pyramid (finest first) that pack reads for an output of size samples a side:
// the coarsest whose every axis, at cubic samples of its finest spacing, still has at least
// size samples; the finest when size is 0 or no coarser level has enough. -1 when empty.
int pickPyramidLevel(const std::vector<PyramidLevel>& levels, int size);

// The shape --raw states for a file of bare samples, which says none itself: the sizes along
// x, y, z, the sample type, the byte order, the channels interleaved in each sample and the
// bytes before the first sample.
struct RawShape {
    bool given = false;
    int sizes[3] = {0, 0, 0};
    SampleType type = SampleType::UInt8;
    bool bigEndian = false;
    int channels = 1;
    std::uint64_t offset = 0;
};

// Reads "W,H,D,TYPE,ENDIAN[,CHANNELS]" (TYPE a sampleTypeName, ENDIAN le or be) into shape,
// given then true; false when the text is not that.
bool parseRawShape(const std::string& text, RawShape* shape);

// Which part of an input to read where it holds several: a DICOM series (-1: the only one),
// a volume of a series of volumes, a time point say (-1: the only one), and the dataset of an
// HDF5 file, the array of an .npz or the HDU of a FITS file ("": the one its layout names).
// size is the N the output will have (0: the input's own), by which a pyramid picks the
// coarsest level that still has N samples a side.
struct InputSelection {
    InputSelection(int series = -1, int volume = -1) : series(series), volume(volume) {}
    int series;
    int volume;
    std::string dataset;
    int size = 0;
    RawShape raw; // --raw and --offset: the input is bare samples of this shape, whatever its name
};
