#include "nrrd/nrrd.h"

#include "nrrd/nrrddata.h"
#include "nrrd/nrrdheader.h"

#include "inputfile.h"
#include "files.h"
#include "text.h"
#include "messages.h"
#include "storedsamples.h"

#include <teem/nrrd.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

namespace {
// teem's explanation, innermost (last) line first, without its "[nrrd] function:" prefix.
std::string teemFailure() {
    char* text = biffGetDone(NRRD);
    std::string all(text ? text : "");
    std::free(text);
    while (!all.empty() && all.back() == '\n')
        all.pop_back();
    std::string line = all.substr(all.rfind('\n') + 1);
    const std::size_t colon = line.find(": ");
    return colon == std::string::npos ? line : line.substr(colon + 2);
}

// nrrdNix frees an array's description, not its data: the arrays here have none of teem's.
struct NrrdDeleter {
    void operator()(Nrrd* nrrd) const { nrrdNix(nrrd); }
    void operator()(NrrdIoState* nio) const {
        if (nio->dataFile)
            std::fclose(nio->dataFile);
        nio->dataFile = nullptr;
        nrrdIoStateNix(nio);
    }
};

bool sampleType(int nrrdType, SampleType* type) {
    const std::pair<int, SampleType> types[] = {
        {nrrdTypeChar, SampleType::Int8},     {nrrdTypeUChar, SampleType::UInt8},
        {nrrdTypeShort, SampleType::Int16},   {nrrdTypeUShort, SampleType::UInt16},
        {nrrdTypeInt, SampleType::Int32},     {nrrdTypeUInt, SampleType::UInt32},
        {nrrdTypeFloat, SampleType::Float32}, {nrrdTypeDouble, SampleType::Float64}};
    for (const auto& [from, to] : types)
        if (from == nrrdType) {
            *type = to;
            return true;
        }
    return false;
}

// The distance between samples along an axis: its spacing, else its space direction's length.
double axisSpacing(const Nrrd* nrrd, const NrrdAxisInfo& axis) {
    if (AIR_EXISTS(axis.spacing) && axis.spacing > 0)
        return axis.spacing;
    if (nrrd->spaceDim == 0 || !AIR_EXISTS(axis.spaceDirection[0]))
        return 0;
    double sum = 0;
    for (unsigned int k = 0; k < nrrd->spaceDim; ++k)
        sum += axis.spaceDirection[k] * axis.spaceDirection[k];
    return std::isfinite(sum) ? std::sqrt(sum) : 0;
}

// Checks the header, then has teem parse it without reading the data. Which files are read
// goes to files; the data file is left open at the first sample.
std::string loadHeader(const QString& path, Nrrd* nrrd, NrrdIoState* nio,
                       std::vector<std::string>* files) {
    // teem opens files itself; only regular ones are handed to it, as everywhere.
    FileHandle header = openFile(QFile::encodeName(path).constData(), "rb");
    if (!header)
        return cantOpenReason(path);
    const std::string failure = checkNrrdHeader(path, header.get(), files);
    header.reset();
    if (!failure.empty())
        return failure;
    nrrdIoStateSet(nio, nrrdIoStateSkipData, AIR_TRUE);
    nrrdIoStateSet(nio, nrrdIoStateKeepNrrdDataFileOpen, AIR_TRUE);
    if (nrrdLoad(nrrd, QFile::encodeName(path).constData(), nio)) {
        // On failure teem has closed the files it opened but may leave dataFile naming one.
        nio->dataFile = nullptr;
        return "bad NRRD: " + teemFailure();
    }
    return std::string();
}

// Volumes that a four-axis NRRD keeps beside its three axes of space: time points, or a list
// of volumes as a Slicer sequence stores it (last; first in older sequences).
struct NrrdVolumes {
    int axis = -1; // 0 (interleaved, as channels are), 3 (one volume after another), or none
    std::int64_t count = 1;
};

// Whether the NRRD's key/value pairs hold key.
bool hasKey(const Nrrd* nrrd, const char* key) {
    char* value = nrrdKeyValueGet(nrrd, key);
    const bool found = value != nullptr;
    if (!nrrdStateKeyValueReturnInternalPointers)
        std::free(value);
    return found;
}

NrrdVolumes findVolumes(const Nrrd* nrrd) {
    const auto spatial = [&](unsigned first) {
        for (unsigned k = first; k < first + 3; ++k)
            if (nrrd->axis[k].kind != nrrdKindDomain && nrrd->axis[k].kind != nrrdKindSpace)
                return false;
        return true;
    };
    NrrdVolumes volumes;
    if (nrrd->dim != 4)
        return volumes;
    const int first = nrrd->axis[0].kind, last = nrrd->axis[3].kind;
    if ((last == nrrdKindTime || last == nrrdKindList) && spatial(0))
        volumes.axis = 3;
    else if ((first == nrrdKindTime ||
              (first == nrrdKindList && hasKey(nrrd, "axis 0 index type"))) &&
             spatial(1))
        volumes.axis = 0;
    if (volumes.axis >= 0)
        volumes.count = std::int64_t(std::min<std::size_t>(nrrd->axis[volumes.axis].size, INT_MAX));
    return volumes;
}

// Where the axes of space point: their space directions, in RAS+ for the anatomical spaces and
// in the world's own x, y, z for the others. Without directions the file is an array.
void describeDirections(const Nrrd* nrrd, unsigned first, AxisDirections* axes) {
    if (nrrd->spaceDim < 3)
        return;
    for (unsigned k = 0; k < 3; ++k)
        if (!AIR_EXISTS(nrrd->axis[first + k].spaceDirection[0]))
            return;
    double sign[3] = {1, 1, 1};
    axes->patient = true;
    switch (nrrd->space) {
    case nrrdSpaceRightAnteriorSuperior:
    case nrrdSpaceRightAnteriorSuperiorTime:
        break;
    case nrrdSpaceLeftAnteriorSuperior:
    case nrrdSpaceLeftAnteriorSuperiorTime:
        sign[0] = -1;
        break;
    case nrrdSpaceLeftPosteriorSuperior:
    case nrrdSpaceLeftPosteriorSuperiorTime:
        sign[0] = sign[1] = -1;
        break;
    default:
        axes->patient = false;
    }
    axes->frame = AxisFrame::World;
    for (unsigned k = 0; k < 3; ++k)
        for (unsigned a = 0; a < 3; ++a)
            axes->axis[k][a] = sign[a] * nrrd->axis[first + k].spaceDirection[a];
    axes->from = nrrd->space != nrrdSpaceUnknown
                     ? std::string("the space directions in ") + airEnumStr(nrrdSpace, nrrd->space)
                     : std::string("the space directions");
}

// The sizes, channels and spacing of x y z axes, after any channels; volumes one after another
// count as slices here, until one is picked.
std::string describeAxes(const Nrrd* nrrd, const NrrdVolumes& volumes, VolumeInfo* info) {
    const unsigned int dim = nrrd->dim;
    const int firstKind = nrrd->axis[0].kind;
    if (dim == 4 && volumes.axis < 0 &&
        (firstKind == nrrdKindDomain || firstKind == nrrdKindSpace || firstKind == nrrdKindTime))
        return "unsupported NRRD layout: four axes of space or time";
    if (dim != 3 && dim != 4)
        return "unsupported NRRD layout: need x y z axes, after any channels";
    // The axes of space: the first three before a last axis of volumes, else the last three.
    const unsigned space = volumes.axis == 3 ? 0 : dim - 3;
    std::int64_t sizes[3];
    for (unsigned int k = 0; k < 3; ++k)
        sizes[k] = std::int64_t(std::min<std::size_t>(nrrd->axis[space + k].size, INT_MAX));
    info->channels = space == 1 ? int(std::min<std::size_t>(nrrd->axis[0].size, INT_MAX)) : 1;
    info->width = int(sizes[0]);
    info->height = int(sizes[1]);
    const std::int64_t slices = sizes[2] * (volumes.axis == 3 ? volumes.count : 1);
    if (slices > INT_MAX)
        return "unsupported NRRD: more than 2^31 - 1 slices in all its volumes";
    info->depth = int(slices);
    if (dim == 4 && firstKind == nrrdKindRGBAColor)
        info->alphaChannel = 3;
    for (unsigned int k = 0; k < 3; ++k) {
        const double spacing = axisSpacing(nrrd, nrrd->axis[space + k]);
        info->spacingKnown = info->spacingKnown || spacing > 0;
        info->spacing[k] = spacing > 0 ? spacing : 1;
    }
    describeDirections(nrrd, space, &info->axes);
    return std::string();
}

std::string describeNrrd(const Nrrd* nrrd, const NrrdVolumes& volumes, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = "NRRD";
    if (!sampleType(nrrd->type, &info->type))
        return std::string("unsupported NRRD type '") + airEnumStr(nrrdType, nrrd->type) +
               "': need (unsigned) char, short or int, float or double";
    return describeAxes(nrrd, volumes, info);
}

// Wraps a read so that slice z of the volume read is slice z + first of all of them.
std::function<std::string(int, void*)> shiftSlices(int first,
                                                   std::function<std::string(int, void*)> read) {
    return
        [first, read = std::move(read)](int z, void* samples) { return read(z + first, samples); };
}

// Makes the source read volume t of the volumes stored one after another, depth slices each.
void readVolumeOfSlices(std::int64_t t, int depth, TypedSource* source) {
    const int first = int(t) * depth; // within the slices checked when described
    source->info.depth = depth;
    source->read = shiftSlices(first, std::move(source->read));
    if (source->readStored)
        source->readStored = shiftSlices(first, std::move(source->readStored));
}

// Makes the source read volume t of the volumes interleaved as its channels are.
void readVolumeOfChannels(std::int64_t t, TypedSource* source) {
    const std::size_t count = std::size_t(source->info.channels);
    const std::size_t bytes = sampleTypeBytes(source->info.type);
    const std::size_t values = std::size_t(source->info.width) * std::size_t(source->info.height);
    source->info.channels = 1;
    source->memory += values * count * bytes;
    source->stored.reset(); // a stored slice holds every volume
    source->readStored = nullptr;
    source->read = [=, read = std::move(source->read)](int z, void* samples) {
        thread_local std::vector<unsigned char> all;
        all.resize(values * count * bytes);
        const std::string failure = read(z, all.data());
        auto* out = static_cast<unsigned char*>(samples);
        for (std::size_t i = 0; failure.empty() && i < values; ++i)
            std::memcpy(out + i * bytes, all.data() + (i * count + std::size_t(t)) * bytes, bytes);
        return failure;
    };
}

// What teem found of the samples: their encoding, byte order and files (dataFiles: those the
// header names, checked). Returns "" or the message.
std::string describeData(NrrdIoState* nio, const std::vector<std::string>& dataFiles,
                         SampleType type, NrrdData* data) {
    const std::pair<const NrrdEncoding*, NrrdDataEncoding> encodings[] = {
        {nrrdEncodingRaw, NrrdDataEncoding::Raw},
        {nrrdEncodingGzip, NrrdDataEncoding::Gzip},
        {nrrdEncodingBzip2, NrrdDataEncoding::Bzip2},
        {nrrdEncodingHex, NrrdDataEncoding::Hex},
        {nrrdEncodingAscii, NrrdDataEncoding::Ascii}};
    const auto known = std::find_if(std::begin(encodings), std::end(encodings),
                                    [&](const auto& e) { return e.first == nio->encoding; });
    if (known == std::end(encodings))
        return std::string("unsupported NRRD encoding '") + nio->encoding->name + "'";
    data->encoding = known->second;
    const bool compressed =
        data->encoding == NrrdDataEncoding::Gzip || data->encoding == NrrdDataEncoding::Bzip2;
    if (compressed && nio->byteSkip != 0)
        return std::string("unsupported NRRD: byte skip with ") + nio->encoding->name + " encoding";
    if (data->encoding != NrrdDataEncoding::Raw && nio->byteSkip < 0)
        return "bad NRRD: byte skip -1 is for raw samples only";
    data->swap = sampleTypeBytes(type) > 1 && nio->endian != airEndianUnknown &&
                 nio->endian != airMyEndian();
    // One data file is left open by teem at its first sample, which becomes the source's.
    if (dataFiles.size() <= 1) {
        if (!nio->dataFile)
            return "bad NRRD: teem found no data";
        data->file = std::make_shared<FileHandle>(nio->dataFile);
        nio->dataFile = nullptr;
        return std::string();
    }
    // teem lists the names of a LIST, and keeps a pattern's numbers.
    const long long counted =
        nio->dataFNFormat && nio->dataFNStep != 0
            ? (static_cast<long long>(nio->dataFNMax) - nio->dataFNMin) / nio->dataFNStep + 1
            : (nio->dataFNArr ? static_cast<long long>(nio->dataFNArr->len) : 0);
    if (counted != static_cast<long long>(dataFiles.size()))
        return "bad NRRD: teem counts the data files otherwise";
    data->files = dataFiles;
    data->lineSkip = nio->lineSkip;
    data->byteSkip = nio->byteSkip;
    return std::string();
}

} // namespace

std::string openNrrdSource(const QString& path, int volume, TypedSource* source) {
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdDeleter> nio(nrrdIoStateNew());
    std::vector<std::string> dataFiles;
    std::string failure = loadHeader(path, nrrd.get(), nio.get(), &dataFiles);
    // Inputs too: no output may be written over one.
    source->files.insert(source->files.end(), dataFiles.begin(), dataFiles.end());
    NrrdVolumes volumes;
    std::int64_t picked = 0;
    if (failure.empty()) {
        volumes = findVolumes(nrrd.get());
        failure = describeNrrd(nrrd.get(), volumes, &source->info);
    }
    if (failure.empty()) {
        const char* kind = airEnumStr(nrrdKind, nrrd->axis[std::max(volumes.axis, 0)].kind);
        failure = pickVolume(
            volumes.count, volume,
            formatString("NRRD of %lld volumes along its %s axis", (long long)volumes.count, kind),
            &picked);
    }
    NrrdData data;
    if (failure.empty())
        failure = describeData(nio.get(), dataFiles, source->info.type, &data);
    if (!failure.empty())
        return failure;
    // How the samples are stored, where it is not raw in one file.
    const std::size_t files = data.files.size();
    if (data.encoding != NrrdDataEncoding::Raw || files > 1)
        source->info.format +=
            formatString(" (%s%s)", nio->encoding->name,
                         files > 1 ? formatString(", in %zu data files", files).c_str() : "");
    failure = openNrrdData(std::move(data), source);
    if (failure.empty() && volumes.axis == 3)
        readVolumeOfSlices(picked, int(nrrd->axis[2].size), source);
    if (failure.empty() && volumes.axis == 0)
        readVolumeOfChannels(picked, source);
    return failure;
}

std::string openNrrdSink(const QString& path, int n, SliceSink* sink) {
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdDeleter> nio(nrrdIoStateNew());
    // teem checks that an array has data even when asked to skip it; it is never read.
    static unsigned char unread;
    const std::size_t sizes[4] = {3, std::size_t(n), std::size_t(n), std::size_t(n)};
    const int kinds[4] = {nrrdKindRGBColor, nrrdKindDomain, nrrdKindDomain, nrrdKindDomain};
    const double nan = std::numeric_limits<double>::quiet_NaN(); // "none": the colour axis has no
                                                                 // direction in space
    const double directions[4][NRRD_SPACE_DIM_MAX] = {
        {nan, nan, nan}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}}; // x left, y anterior, z superior
    const double origin[3] = {0, 0, 0};
    char* header = nullptr;
    bool failed = nrrdWrap_nva(nrrd.get(), &unread, nrrdTypeUChar, 4, sizes) ||
                  nrrdSpaceSet(nrrd.get(), nrrdSpaceLeftPosteriorSuperior) ||
                  nrrdSpaceOriginSet(nrrd.get(), origin);
    if (!failed) {
        nrrdAxisInfoSet_nva(nrrd.get(), nrrdAxisInfoKind, kinds);
        nrrdAxisInfoSet_nva(nrrd.get(), nrrdAxisInfoSpaceDirection, directions);
        failed = nrrdIoStateSet(nio.get(), nrrdIoStateSkipData, AIR_TRUE) ||
                 nrrdIoStateEncodingSet(nio.get(), nrrdEncodingRaw) ||
                 nrrdStringWrite(&header, nrrd.get(), nio.get());
    }
    if (failed)
        return fileMessage(path, "can't write: " + teemFailure());
    std::string text(header);
    std::free(header);
    // The string form stops before the blank line that ends a header with attached data.
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\n\n") != 0)
        text += "\n";
    return openFileSink(path, text, n, sink);
}

InputFormat nrrdInputFormat() {
    return {
        "NRRD",
        "a NRRD file (.nrrd, .nhdr; raw, gzip, bzip2, hex or ASCII samples, attached or in data\n"
        "      files (one, a LIST or a numbered pattern); grey or with a first axis of channels; "
        "of\n"
        "      a time or list axis, the volume --volume T picks)",
        {"nrrd", "nhdr"},
        [](const std::string& start) { return hasMarkAt(start, 0, "NRRD000"); },
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openNrrdSource(path, selection.volume, source);
        },
        nullptr,
        {{"nrrd"},
         "a NRRD file (RGB, raw) with the axis kinds, space and spacing that ParaView and\n"
         "                3D Slicer need to open it as an RGB volume",
         openNrrdSink},
        "nrrd",
        nullptr,
        picksVolume,
        {{"application/x-nrrd", "NRRD volume", {"nrrd", "nhdr"}}}};
}
