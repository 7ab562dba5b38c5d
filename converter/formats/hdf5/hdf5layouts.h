#pragma once

// The layouts of volumes in HDF5 files, told from the list of a file's objects: Imaris (.ims),
// BigDataViewer (.h5, with its .xml beside it), and any 3-D or 4-D dataset named with
// --dataset. A layout says which datasets hold the time point picked, level by level.

#include "hdf5/hdf5file.h"

#include <QString>

#include <cmath>
#include <string>
#include <vector>

// What one channel group of a level is read from: a dataset whose three last axes (or, with
// trailing channels, the three before the last) are z, y, x.
struct Hdf5Read {
    std::string dataset;
    int lead = -1;                // the index on a leading axis (channel or time point), or -1
    int trailing = 0;             // channels on a trailing axis, or 0
    std::uint64_t chunkDepth = 0; // the dataset's chunk size along z, 0 when not chunked
};

struct Hdf5Level {
    PyramidLevel level;
    std::vector<Hdf5Read> reads; // one per channel, or one read of all trailing channels
};

// A netCDF-4 (CF) variable's masks and packing: samples equal to a fill or missing value, or out
// of the valid range, become NaN, so that they stay black and out of the value range; the rest
// become raw * scale + offset, as float32.
struct Hdf5Values {
    bool active = false;
    std::vector<double> masked; // _FillValue, missing_value
    double validMin = -HUGE_VAL, validMax = HUGE_VAL;
    double scale = 1, offset = 0;
};

// The raw samples of type stored as float32 by values.
void applyHdf5Values(const Hdf5Values& values, SampleType stored, const void* from,
                     std::size_t count, float* to);

// A MINC2 integer image's real values: the valid range of the voxels maps onto each slice's
// (or row's, or the volume's) range in image-min and image-max, voxels outside it clamped to
// it as nibabel reads them. Entry base + z * perSlice + y * perRow of lo and hi is row y of
// slice z of the time point read.
struct MincScaling {
    bool active = false;
    double voxelMin = 0, voxelMax = 1;
    std::vector<double> lo, hi;
    std::uint64_t base = 0, perSlice = 0, perRow = 0;
};

// Slice z of raw samples of type stored, rows of rowSamples each, as float32 real values.
void applyMincScaling(const MincScaling& scaling, SampleType stored, const void* from, int z,
                      int rows, std::size_t rowSamples, float* to);

struct Hdf5Layout {
    std::string format;                    // "Imaris", "BigDataViewer HDF5", "HDF5 dataset /path"
    SampleType type = SampleType::UInt8;   // the samples as read
    SampleType stored = SampleType::UInt8; // as the datasets hold them
    int channels = 1;
    int timePoints = 1;
    bool spacingKnown = false;
    std::vector<Hdf5Level> levels; // finest first
    std::vector<ChannelDisplay> display;
    std::string note;               // what the reader made of the file that info tells, or ""
    std::vector<std::string> files; // files read besides the HDF5 file (BigDataViewer's .xml)
    Hdf5Values values;              // a netCDF-4 variable's, where type is float32 for them
    MincScaling minc;               // a MINC2 image's, where type is float32 for it
    std::string storedType;         // VolumeInfo::storedType
    AxisDirections axes;            // where the file places its axes (MINC2), else an array
};

// Reads the layout of the file at path from its contents and the selection (--dataset,
// --volume). Returns "" or the message, which names the file at fault.
std::string readHdf5Layout(const QString& path, const Hdf5Contents& contents,
                           const InputSelection& selection, Hdf5Layout* layout);

// The datasets of the file, a line each: "  /path  64 x 64 x 32  uint16", marked where their
// storage is refused.
std::string listHdf5Datasets(const Hdf5Contents& contents);

// The HDF5 file a BigDataViewer .xml names (its ImageLoader of format bdv.hdf5): it must lie in
// the XML's folder, and the XML must be the one beside it (its name with .xml), where the
// reader looks for the setups. "" or the reason, naming the file at fault.
[[nodiscard]] std::string bigDataViewerFile(const QString& xmlPath, QString* hdf5Path);
