#include "hdf5/minc.h"

#include "hdf5/hdf5volume.h"
#include "storedsamples.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace {
const std::string group = "/minc-2.0";
const std::string imagePath = group + "/image/0/image";
const std::string dimensionsPath = group + "/dimensions/";
// A side beyond this is taken for a lie (it is the converter's own limit too).
const std::uint64_t maxSide = 1u << 20;
const std::uint64_t maxChannels = 4;
const std::uint64_t maxTimePoints = 1u << 30;
const char* const convert = ": convert it to NIfTI with mnc2nii first";

std::string normalPath(const std::string& dataset) {
    return dataset.empty() || dataset[0] == '/' ? dataset : "/" + dataset;
}

std::string textOf(const Hdf5Object* object, const char* name) {
    const Hdf5Attribute* attribute = object->attribute(name);
    return attribute && attribute->text ? attribute->value : std::string();
}

// The names of an object's dimorder ("zspace,yspace,xspace"), as many as it has axes: a tool
// that drops axes may leave the longer attribute behind, and nibabel reads its first names too.
// Without dimorder, fallback's first names.
std::string dimensionNames(const Hdf5Object* object, const std::string& path,
                           const std::vector<std::string>& fallback,
                           std::vector<std::string>* names) {
    const std::size_t rank = object->dims.size();
    if (!object->attribute("dimorder") && fallback.empty())
        return path + " has no dimorder naming its axes";
    if (!object->attribute("dimorder")) {
        names->assign(fallback.begin(), fallback.begin() + std::min(rank, fallback.size()));
    } else {
        std::string name;
        for (const char c : textOf(object, "dimorder") + ",") {
            if (c != ',' && c != ' ') {
                name += c;
            } else if (!name.empty()) {
                names->push_back(name);
                name.clear();
            }
        }
    }
    if (names->size() < rank)
        return path + "'s dimorder names fewer dimensions than its " + std::to_string(rank) +
               " axes";
    names->resize(rank);
    return std::string();
}

// Where the image's axes go: time first or vector_dimension last, and three spatial axes
// between, slowest first.
struct MincAxes {
    std::vector<std::string> names;
    int first = 0; // the slowest spatial axis
    bool time = false, vector = false;
};

std::string readAxisRoles(MincAxes* axes) {
    const std::vector<std::string>& names = axes->names;
    int spatial = 0;
    for (std::size_t a = 0; a < names.size(); ++a) {
        const std::string& name = names[a];
        if (name == "xspace" || name == "yspace" || name == "zspace") {
            for (std::size_t b = 0; b < a; ++b)
                if (names[b] == name)
                    return "its dimorder names " + name + " twice";
            ++spatial;
        } else if (name == "time" && a == 0) {
            axes->time = true;
        } else if (name == "vector_dimension" && a + 1 == names.size() && a > 0) {
            axes->vector = true;
        } else {
            return "an image of dimension " + printableText(name.substr(0, 40)) +
                   ", which pack does not read (it reads time, then xspace, yspace and zspace, "
                   "then vector_dimension)" +
                   convert;
        }
    }
    if (spatial != 3)
        return "an image of " + std::to_string(spatial) + " spatial dimensions, not 3" + convert;
    if (axes->time && axes->vector)
        return std::string("an image of time points and vector channels both") + convert;
    axes->first = axes->time ? 1 : 0;
    return std::string();
}

// The step and direction cosines of a spatial dimension variable, each checked where given;
// MINC's defaults where not. Its start places the volume, which the cube does not keep.
struct MincDimension {
    bool stepGiven = false, cosinesGiven = false;
    double step = 1;
    double cosines[3] = {0, 0, 0};
};

std::string readDimension(const Hdf5Contents& contents, const std::string& name,
                          MincDimension* dimension) {
    const std::string path = dimensionsPath + name;
    const Hdf5Object* variable = contents.find(path);
    if (!variable)
        return "no dimension variable " + path + " for the image's " + name;
    // An irregular dimension keeps each sample's position in the variable: no step places it.
    if (textOf(variable, "spacing").rfind("irregular", 0) == 0)
        return path + " is irregularly spaced, which a cube of samples cannot keep" + convert;
    dimension->cosines[name[0] - 'x'] = 1;
    const Hdf5Attribute* step = variable->attribute("step");
    if (step) {
        if (step->text || step->numbers.size() != 1 || !std::isfinite(step->numbers[0]) ||
            step->numbers[0] == 0)
            return path + "'s step is not one finite number other than 0";
        dimension->stepGiven = true;
        dimension->step = step->numbers[0];
    }
    const Hdf5Attribute* cosines = variable->attribute("direction_cosines");
    if (cosines) {
        const std::vector<double>& c = cosines->numbers;
        if (cosines->text || c.size() != 3 || !std::isfinite(c[0] + c[1] + c[2]) ||
            c[0] * c[0] + c[1] * c[1] + c[2] * c[2] < 1e-12)
            return path + "'s direction_cosines are not three finite numbers of a direction";
        std::copy(c.begin(), c.end(), dimension->cosines);
        dimension->cosinesGiven = true;
    }
    return std::string();
}

double determinant(const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The file's axes i, j, k (the fastest spatial axis first): their directions, each its
// cosines the way its step runs, and spacing.
std::string readSpatialAxes(const Hdf5Contents& contents, const MincAxes& axes, Hdf5Layout* layout,
                            Hdf5Level* level) {
    AxisDirections& directions = layout->axes;
    directions.frame = AxisFrame::World;
    directions.patient = true;
    directions.from = "MINC's default axes";
    layout->spacingKnown = true;
    for (int k = 0; k < 3; ++k) {
        MincDimension dimension;
        const std::string& name = axes.names[std::size_t(axes.first + 2 - k)];
        const std::string failure = readDimension(contents, name, &dimension);
        if (!failure.empty())
            return failure;
        const double length = std::sqrt(dimension.cosines[0] * dimension.cosines[0] +
                                        dimension.cosines[1] * dimension.cosines[1] +
                                        dimension.cosines[2] * dimension.cosines[2]);
        for (int c = 0; c < 3; ++c)
            directions.axis[k][c] = dimension.cosines[c] / length * (dimension.step < 0 ? -1 : 1);
        if (dimension.cosinesGiven)
            directions.from = "the MINC2 direction cosines";
        level->level.spacing[k] = std::fabs(dimension.step);
        layout->spacingKnown = layout->spacingKnown && dimension.stepGiven;
    }
    if (std::fabs(determinant(directions.axis)) < 1e-6)
        return "direction cosines of its spatial dimensions that span no volume" +
               std::string(convert);
    return std::string();
}

// The valid range of the voxels: the image's valid_range, else its type's whole range.
std::string validRange(const Hdf5Object* image, SampleType type, MincScaling* scaling) {
    withSampleType(type, [&](auto sample) {
        using Sample = std::remove_const_t<std::remove_pointer_t<decltype(sample)>>;
        scaling->voxelMin = double(std::numeric_limits<Sample>::lowest());
        scaling->voxelMax = double(std::numeric_limits<Sample>::max());
    });
    const Hdf5Attribute* range = image->attribute("valid_range");
    if (!range)
        return std::string();
    const std::vector<double>& r = range->numbers;
    if (range->text || r.size() != 2 || !std::isfinite(r[0]) || !std::isfinite(r[1]) ||
        !(r[1] > r[0]))
        return imagePath + "'s valid_range is not two finite numbers, the first the lower";
    scaling->voxelMin = r[0];
    scaling->voxelMax = r[1];
    return std::string();
}

// image-min or image-max: over the image's slowest axes (none, time, slices or rows), one
// finite value for each of their entries.
std::string readRangeValues(const Hdf5Contents& contents, const MincAxes& axes,
                            const std::vector<std::uint64_t>& imageDims, const char* which,
                            std::vector<std::uint64_t>* dims, std::vector<double>* values) {
    const std::string path = group + "/image/0/" + which;
    const Hdf5Object* object = contents.find(path);
    if (!object || !object->dataset || object->type < 0 || !object->refusal.empty())
        return "an integer image without a numeric " + path + ", which gives its real values";
    std::vector<std::string> names;
    std::string failure = dimensionNames(object, path, axes.names, &names);
    if (!failure.empty())
        return failure;
    const std::size_t rank = names.size();
    std::uint64_t entries = 1;
    bool matches = rank <= std::size_t(axes.first + 2);
    for (std::size_t a = 0; matches && a < rank; ++a) {
        matches = names[a] == axes.names[a] && object->dims[a] == imageDims[a] &&
                  !__builtin_mul_overflow(entries, object->dims[a], &entries);
    }
    if (!matches)
        return path + " is over other dimensions than the image's slices or rows" + convert;
    if (object->values.size() != entries)
        return path + " holds more values than pack reads, or fewer than its shape";
    for (double v : object->values)
        if (!std::isfinite(v))
            return path + " holds a value that is not a finite number";
    *dims = object->dims;
    *values = object->values;
    return std::string();
}

// Where the time point's slices and rows find their entries of image-min and image-max.
void placeRanges(const MincAxes& axes, const std::vector<std::uint64_t>& rangeDims, int time,
                 MincScaling* scaling) {
    std::vector<std::uint64_t> stride(rangeDims.size(), 1);
    for (std::size_t a = rangeDims.size(); a-- > 1;)
        stride[a - 1] = stride[a] * rangeDims[a];
    const std::size_t slice = std::size_t(axes.first), row = slice + 1;
    scaling->base = axes.time && !stride.empty() ? std::uint64_t(time) * stride[0] : 0;
    scaling->perSlice = stride.size() > slice ? stride[slice] : 0;
    scaling->perRow = stride.size() > row ? stride[row] : 0;
}

std::string readScaling(const Hdf5Contents& contents, const Hdf5Object* image, const MincAxes& axes,
                        int time, Hdf5Layout* layout) {
    MincScaling& scaling = layout->minc;
    std::string failure = validRange(image, layout->stored, &scaling);
    std::vector<std::uint64_t> minDims, maxDims;
    if (failure.empty())
        failure = readRangeValues(contents, axes, image->dims, "image-min", &minDims, &scaling.lo);
    if (failure.empty())
        failure = readRangeValues(contents, axes, image->dims, "image-max", &maxDims, &scaling.hi);
    if (failure.empty() && minDims != maxDims)
        failure = "image-min and image-max differ in shape";
    if (!failure.empty())
        return failure;
    placeRanges(axes, minDims, time, &scaling);
    scaling.active = true;
    layout->type = SampleType::Float32;
    const char* over = scaling.perRow     ? "each row's"
                       : scaling.perSlice ? "each slice's"
                                          : "the volume's";
    layout->storedType = image->typeName + " (real values by " + over + " image-min and image-max)";
    return std::string();
}

// The image's sizes along i, j, k and its channels; the read of the time point picked.
std::string readShape(const Hdf5Object* image, const MincAxes& axes,
                      const InputSelection& selection, Hdf5Layout* layout, Hdf5Level* level,
                      int* time) {
    const std::vector<std::uint64_t>& dims = image->dims;
    for (int k = 0; k < 3; ++k) {
        const std::uint64_t side = dims[std::size_t(axes.first + 2 - k)];
        if (side == 0 || side > maxSide)
            return imagePath + " has a side of 0 or too large";
        level->level.sizes[k] = int(side);
    }
    if (axes.time && (dims[0] == 0 || dims[0] > maxTimePoints))
        return imagePath + " has no time points, or too many";
    std::int64_t picked = 0;
    const std::int64_t points = axes.time ? std::int64_t(dims[0]) : 1;
    const std::string failure =
        pickVolume(points, selection.volume,
                   formatString("a MINC2 image of %lld time points", (long long)points), &picked);
    if (!failure.empty())
        return failure;
    *time = int(picked);
    layout->timePoints = int(points);
    if (axes.time)
        layout->format += formatString(", time point %d of %lld", *time, (long long)points);
    const std::uint64_t channels = axes.vector ? dims.back() : 1;
    if (axes.vector && (channels < 2 || channels > maxChannels))
        return formatString("a vector_dimension of %llu, where pack reads 2 to 4 channels",
                            (unsigned long long)channels);
    layout->channels = int(channels);
    const std::size_t zAxis = std::size_t(axes.first);
    level->reads.push_back({imagePath, axes.time ? *time : -1, axes.vector ? int(channels) : 0,
                            image->chunk.size() > zAxis ? image->chunk[zAxis] : 0});
    return std::string();
}

std::string readImage(const Hdf5Object* image, MincAxes* axes) {
    if (!image || !image->dataset)
        return "a MINC2 file without its image, " + imagePath;
    if (!image->refusal.empty())
        return imagePath + " " + image->refusal;
    if (image->type < 0)
        return imagePath + " holds " + image->typeName + " samples (pack reads 8 to 32-bit " +
               "integers, float32 and float64)";
    const std::size_t rank = image->dims.size();
    if (rank < 3 || rank > 4)
        return formatString("an image of %zu dimensions, where pack reads 3 or 4", rank) + convert;
    const std::string failure = dimensionNames(image, imagePath, {}, &axes->names);
    return failure.empty() ? readAxisRoles(axes) : failure;
}
} // namespace

bool isMinc2(const Hdf5Contents& contents, const std::string& dataset) {
    const std::string path = normalPath(dataset);
    if (path.empty())
        return contents.find(group) != nullptr;
    return path == group || path.rfind(group + "/", 0) == 0;
}

std::string readMincLayout(const Hdf5Contents& contents, const InputSelection& selection,
                           Hdf5Layout* layout) {
    layout->format = "MINC2";
    const std::string dataset = normalPath(selection.dataset);
    if (!dataset.empty() && dataset != imagePath)
        return "--dataset " + printableText(selection.dataset) + ": pack reads a MINC2 file's " +
               "image alone, " + imagePath + ", by its image-min and image-max";
    const Hdf5Object* image = contents.find(imagePath);
    MincAxes axes;
    std::string failure = readImage(image, &axes);
    if (!failure.empty())
        return failure;
    layout->type = layout->stored = SampleType(image->type);
    Hdf5Level level;
    int time = 0;
    failure = readShape(image, axes, selection, layout, &level, &time);
    if (failure.empty())
        failure = readSpatialAxes(contents, axes, layout, &level);
    const bool integers =
        layout->stored != SampleType::Float32 && layout->stored != SampleType::Float64;
    if (failure.empty() && integers)
        failure = readScaling(contents, image, axes, time, layout);
    if (!failure.empty())
        return failure;
    layout->levels.push_back(level);
    layout->display.assign(std::size_t(layout->channels), ChannelDisplay());
    return std::string();
}

void applyMincScaling(const MincScaling& scaling, SampleType stored, const void* from, int z,
                      int rows, std::size_t rowSamples, float* to) {
    const double lo = scaling.voxelMin, hi = scaling.voxelMax;
    withSampleType(stored, [&](auto type) {
        const auto* raw = static_cast<decltype(type)>(from);
        for (int y = 0; y < rows; ++y) {
            const std::size_t entry =
                std::size_t(scaling.base + std::uint64_t(z) * scaling.perSlice +
                            std::uint64_t(y) * scaling.perRow);
            // As nibabel computes it, so that its reads compare exactly.
            const double slope = (scaling.hi[entry] - scaling.lo[entry]) / (hi - lo);
            const double intercept = scaling.lo[entry] - lo * slope;
            const std::size_t at = std::size_t(y) * rowSamples;
            for (std::size_t i = at; i < at + rowSamples; ++i)
                to[i] = float(std::min(std::max(double(raw[i]), lo), hi) * slope + intercept);
        }
    });
}

InputFormat mincInputFormat() {
    return {
        "MINC2",
        "a MINC2 image (.mnc, HDF5): an integer image as real values by each slice's image-min\n"
        "      and image-max, placed by its dimensions' steps and direction cosines; of a time\n"
        "      series, the time point --volume T picks (MINC1, netCDF, is refused)",
        {"mnc"},
        nullptr, // HDF5's mark, which the HDF5 entry takes: told by its /minc-2.0 group
        openMincSource,
        printHdf5Contents,
        {},
        "hdf5",
        nullptr,
        picksVolume | picksDataset,
        {{"application/x-minc", "MINC image", {"mnc"}}}};
}
