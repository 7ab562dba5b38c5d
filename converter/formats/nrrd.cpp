#include "nrrd.h"

#include "inputfile.h"
#include "files.h"
#include "text.h"
#include "inflater.h"
#include "messages.h"
#include "raw.h"

#include <teem/nrrd.h>
#include <zlib.h>

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

// Headers are a few hundred bytes; one this long is no header.
const std::size_t maxHeaderBytes = 1 << 20;

// Checks the magic and looks over the header's lines (up to the blank line that ends it, or the
// file's end) before teem parses it: counts the key/value lines, and checks that a detached data
// file is a regular file inside the header's folder, whose path goes to *dataFile. Returns "" or
// the message.
std::string checkHeader(const QString& path, std::FILE* file, std::string* dataFile) {
    std::string text(maxHeaderBytes + 1, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file));
    // teem reads other formats too (PNM, VTK, plain text) when the magic is not NRRD's; a
    // .nrrd or .nhdr input is only ever NRRD.
    const std::string magic = text.substr(0, text.find('\n'));
    if (!(magic.size() == 8 || (magic.size() == 9 && magic[8] == '\r')) ||
        magic.compare(0, 7, "NRRD000") != 0 || magic[7] < '1' || magic[7] > '5')
        return "not a NRRD file";
    const std::size_t end = text.find("\n\n");
    const bool tooLong = end == std::string::npos && text.size() > maxHeaderBytes;
    text.resize(std::min(end, text.size()));
    int keyValues = 0, lines = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        if (++lines > maxNrrdHeaderLines)
            return formatString("bad NRRD: more than %d header lines", maxNrrdHeaderLines);
        std::size_t stop = text.find('\n', start);
        stop = stop == std::string::npos ? text.size() : stop;
        std::string line = text.substr(start, stop - start);
        start = stop + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find(":=") != std::string::npos && line[0] != '#' &&
            ++keyValues > maxNrrdKeyValues)
            return formatString("bad NRRD: more than %d key/value lines", maxNrrdKeyValues);
        std::string name;
        for (const char* field : {"data file: ", "datafile: "})
            if (line.rfind(field, 0) == 0)
                name = line.substr(std::strlen(field));
        if (name.empty())
            continue;
        // "LIST" and "FORMAT MIN MAX STEP" name several files, each a part of the volume.
        if (name.rfind("LIST", 0) == 0 || name.find('%') != std::string::npos)
            return "unsupported NRRD: data in several files";
        const QDir folder = QFileInfo(path).absoluteDir();
        const QFileInfo data(folder.filePath(QFile::decodeName(name.c_str())));
        const QString inside = QFileInfo(folder.absolutePath()).canonicalFilePath() + "/";
        if (!data.exists())
            return "can't open the data file " + name;
        if (!data.canonicalFilePath().startsWith(inside))
            return "the data file " + name + " is outside the header's folder";
        if (!data.isFile())
            return "the data file " + name + " is not a regular file";
        *dataFile = QFile::encodeName(data.canonicalFilePath()).toStdString();
    }
    return tooLong ? "bad NRRD: header longer than 1 MiB" : std::string();
}

std::string openGzipSamples(std::shared_ptr<FileHandle> file, bool swap, TypedSource* source) {
    const VolumeInfo& info = source->info;
    // Checked here as well as at the door: the bound on the samples below multiplies the sizes.
    const std::string failure = checkVolumeSizes(info);
    if (!failure.empty())
        return failure;
    const std::uint64_t sliceBytes = ::sliceBytes(info);
    const std::uint64_t total = sliceBytes * std::uint64_t(info.depth);
    // Deflate expands at most 1032-fold, so a short file can't hold what a header claims;
    // refusing it here spares inflating all of it to find out.
    const off_t start = ftello(file->get());
    const long compressed = remainingBytes(file->get());
    if (start < 0 || compressed < 0 || total / 1032 > std::uint64_t(compressed))
        return formatString("file too short: %ld bytes of gzip data can't hold "
                            "%llu bytes of samples",
                            compressed, static_cast<unsigned long long>(total));
    auto inflater = std::make_shared<Inflater>(file->get(), start, -1, true);
    const SampleType type = info.type;
    const std::string damaged = "file too short or damaged: truncated gzip samples";
    // The file goes with the last copy of the source, which holds it for the inflater.
    source->read = [=, keep = file](int z, void* samples) {
        auto* out = static_cast<unsigned char*>(samples);
        const std::uint64_t at = std::uint64_t(z) * sliceBytes;
        if (at < inflater->position && !inflater->rewind())
            return damaged;
        // Skipped slices are decompressed into the slice's own buffer and dropped.
        bool good = true;
        while (good && inflater->position < at)
            good =
                inflater->next(out, std::size_t(std::min(at - inflater->position, sliceBytes))) ==
                Inflater::Result::Done;
        if (!good || inflater->next(out, std::size_t(sliceBytes)) != Inflater::Result::Done)
            return damaged;
        if (swap)
            swapSampleBytes(type, std::size_t(sliceBytes / sampleTypeBytes(type)), samples);
        return std::string();
    };
    return std::string();
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
    std::string dataFile;
    const std::string failure = checkHeader(path, header.get(), &dataFile);
    header.reset();
    if (!failure.empty())
        return failure;
    // An input too: no output may be written over it.
    if (!dataFile.empty())
        files->push_back(dataFile);
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

std::string checkEncoding(const NrrdIoState* nio) {
    const bool gzip = nio->encoding == nrrdEncodingGzip;
    if (nio->encoding != nrrdEncodingRaw && !gzip)
        return std::string("unsupported NRRD encoding '") + nio->encoding->name +
               "': only raw and gzip";
    if (!nio->dataFile)
        return "unsupported NRRD: data in several files";
    if (gzip && nio->byteSkip != 0)
        return "unsupported NRRD: byte skip with gzip encoding";
    return std::string();
}
// Opens the samples that teem found, left open at the first one.
std::string openSamples(NrrdIoState* nio, TypedSource* source) {
    const bool swap = sampleTypeBytes(source->info.type) > 1 && nio->endian != airEndianUnknown &&
                      nio->endian != airMyEndian();
    // The data file, left open by teem at the first sample, becomes the source's.
    auto file = std::make_shared<FileHandle>(nio->dataFile);
    nio->dataFile = nullptr;
    if (nio->encoding == nrrdEncodingGzip)
        return openGzipSamples(file, swap, source);
    return openRawSamples(file, ftello(file->get()), swap, source);
}

} // namespace

std::string openNrrdSource(const QString& path, int volume, TypedSource* source) {
    std::unique_ptr<Nrrd, NrrdDeleter> nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, NrrdDeleter> nio(nrrdIoStateNew());
    std::string failure = loadHeader(path, nrrd.get(), nio.get(), &source->files);
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
    if (failure.empty())
        failure = checkEncoding(nio.get());
    if (!failure.empty())
        return failure;
    failure = openSamples(nio.get(), source);
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
