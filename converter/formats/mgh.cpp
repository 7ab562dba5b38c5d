#include "mgh.h"

#include "choices.h"
#include "checkedsize.h"
#include "codecs/inflater.h"
#include "inputfile.h"
#include "littleendian.h"
#include "raw.h"
#include "storedsamples.h"
#include "text.h"
#include "volumefile.h"

#include <sys/stat.h>

#include <cmath>
#include <memory>

namespace {
const std::size_t dataOffset = 284; // the header, padded: the samples start here

struct MghHeader {
    std::int32_t version = 0, dims[4] = {}, type = 0;
    std::int16_t goodRAS = 0;
    float delta[3] = {}, mdc[3][3] = {};
};

std::string parseHeader(const unsigned char* b, std::size_t size, MghHeader* h) {
    if (size < dataOffset)
        return "not an MGH file: shorter than its 284-byte header";
    const bool swap = hostIsLittleEndian; // always big-endian
    h->version = fieldAt<std::int32_t>(b, 0, swap);
    if (h->version != 1)
        return formatString("not an MGH file: version %d (1 is read)", h->version);
    for (int k = 0; k < 4; ++k)
        h->dims[k] = fieldAt<std::int32_t>(b, std::size_t(4 + 4 * k), swap);
    h->type = fieldAt<std::int32_t>(b, 20, swap);
    h->goodRAS = fieldAt<std::int16_t>(b, 28, swap);
    for (int k = 0; k < 3; ++k) {
        h->delta[k] = fieldAt<float>(b, std::size_t(30 + 4 * k), swap);
        for (int c = 0; c < 3; ++c)
            h->mdc[k][c] = fieldAt<float>(b, std::size_t(42 + 12 * k + 4 * c), swap);
    }
    return std::string();
}

bool isGzip(const unsigned char* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

// Reads and checks the header of an open file, plain or gzip; *gzip says which.
std::string readHeader(std::FILE* file, MghHeader* header, bool* gzip) {
    unsigned char bytes[dataOffset] = {};
    std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    *gzip = isGzip(bytes, got);
    if (*gzip) {
        Inflater inflater(file, 0, -1, true);
        const Inflater::Result result = inflater.next(bytes, sizeof bytes);
        if (result == Inflater::Result::Damaged)
            return "bad compressed data";
        got = result == Inflater::Result::Done ? sizeof bytes : 0;
    }
    return parseHeader(bytes, got, header);
}

bool sampleType(int type, SampleType* sample) {
    const std::pair<int, SampleType> types[] = {{0, SampleType::UInt8},
                                                {1, SampleType::Int32},
                                                {3, SampleType::Float32},
                                                {4, SampleType::Int16}};
    for (const auto& [code, known] : types)
        if (code == type) {
            *sample = known;
            return true;
        }
    return false;
}

// Where the frame asked for lies, after checking that the file can hold every frame.
struct Frames {
    FileHandle file;
    bool gzip = false;
    std::uint64_t offset = 0, sliceBytes = 0;
    std::unique_ptr<Inflater> inflater;
    int next = 0; // the slice the inflater stands at

    std::string read(int z, void* samples) {
        if (!inflater || z < next) {
            inflater = std::make_unique<Inflater>(file.get(), 0, -1, true);
            next = 0;
        }
        const std::uint64_t at = offset + std::uint64_t(z) * sliceBytes;
        Inflater::Result result = inflater->skip(at - inflater->position);
        if (result == Inflater::Result::Done)
            result = inflater->next(static_cast<unsigned char*>(samples), sliceBytes);
        if (result != Inflater::Result::Done) {
            inflater.reset(); // stands nowhere known now: the next read starts over
            return result == Inflater::Result::Damaged ? "bad compressed data"
                                                       : volumeMessages::truncated;
        }
        next = z + 1;
        return std::string();
    }
};

std::string checkLength(const MghHeader& h, SampleType type, std::uint64_t fileBytes,
                        Frames* frames) {
    const std::int32_t* d = h.dims;
    std::uint64_t total = 0;
    if (!checkedProduct({d[0], d[1]}, sampleTypeBytes(type), maxCheckedSize, &frames->sliceBytes) ||
        !checkedProduct({d[2], d[3]}, frames->sliceBytes, maxCheckedSize - dataOffset, &total))
        return formatString("too large: %d x %d x %d samples of %d frames", d[0], d[1], d[2], d[3]);
    const std::uint64_t end = dataOffset + total;
    if (!frames->gzip && fileBytes < end)
        return volumeMessages::truncated;
    if (frames->gzip && fileBytes < end / maxDeflateExpansion)
        return formatString("file too short: %llu bytes of gzip data can't hold %llu bytes of "
                            "header and samples",
                            (unsigned long long)fileBytes, (unsigned long long)end);
    return std::string();
}

std::string placeFrame(const MghHeader& h, int volume, SampleType type, std::uint64_t fileBytes,
                       Frames* frames, std::int64_t* frame) {
    const std::int32_t* d = h.dims;
    if (d[0] < 1 || d[1] < 1 || d[2] < 1 || d[3] < 1)
        return formatString("bad MGH header: sizes %d x %d x %d, %d frames", d[0], d[1], d[2],
                            d[3]);
    std::string failure =
        pickVolume(d[3], volume, formatString("MGH file of %d frames", d[3]), frame);
    if (failure.empty())
        failure = checkVolumeSizes(d[0], d[1], d[2], 1, type, nullptr);
    if (failure.empty())
        failure = checkLength(h, type, fileBytes, frames);
    frames->offset = dataOffset + std::uint64_t(*frame) * frames->sliceBytes * std::uint64_t(d[2]);
    return failure;
}

// The directions of the voxel axes: the header's where goodRASFlag is set and they span
// space, else FreeSurfer's default.
void describeAxes(const MghHeader& h, VolumeInfo* info) {
    const float(*m)[3] = h.mdc;
    const double det = double(m[0][0]) * (double(m[1][1]) * m[2][2] - double(m[1][2]) * m[2][1]) -
                       double(m[0][1]) * (double(m[1][0]) * m[2][2] - double(m[1][2]) * m[2][0]) +
                       double(m[0][2]) * (double(m[1][0]) * m[2][1] - double(m[1][1]) * m[2][0]);
    const bool given = h.goodRAS > 0 && std::isfinite(det) && det != 0;
    const double fallback[3][3] = {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    AxisDirections& axes = info->axes;
    axes.frame = AxisFrame::World;
    axes.patient = true;
    axes.from = given ? "the MGH direction cosines" : "FreeSurfer's default axes";
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c)
            axes.axis[k][c] = given ? double(m[k][c]) : fallback[k][c];
    if (h.goodRAS > 0 && !given)
        info->note = "the header's direction cosines span no space: FreeSurfer's default taken";
}

void describe(const MghHeader& h, std::int64_t frame, bool gzip, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = std::string("MGH") + (gzip ? " (gzip)" : "");
    if (h.dims[3] > 1)
        info->format += formatString(", frame %lld of %d", (long long)frame, h.dims[3]);
    info->width = h.dims[0];
    info->height = h.dims[1];
    info->depth = h.dims[2];
    info->spacingKnown = h.goodRAS > 0;
    for (int k = 0; k < 3; ++k) {
        const bool known = h.goodRAS > 0 && std::isfinite(h.delta[k]) && h.delta[k] > 0;
        info->spacing[k] = known ? h.delta[k] : 1;
        info->axisSpacingKnown[k] = known;
        info->spacingKnown = info->spacingKnown && known;
    }
    if (h.goodRAS <= 0)
        info->spacingNote = "goodRASFlag is 0: the header gives no spacing";
    describeAxes(h, info);
}

std::string openHeader(const QString& path, FileHandle* file, MghHeader* header, bool* gzip,
                       std::uint64_t* fileBytes) {
    const std::string failure = openInputWithLength(path, file, fileBytes);
    return failure.empty() ? readHeader(file->get(), header, gzip) : failure;
}

void openCompressed(std::shared_ptr<Frames> frames, SampleType type, TypedSource* source) {
    StoredSamples stored;
    stored.type = type;
    stored.swapped = hostIsLittleEndian;
    source->costlyReads = true;
    readThrough(
        stored, [frames](int z, void* samples) { return frames->read(z, samples); }, source);
    guardReads(source);
}
} // namespace

std::string openMghSource(const QString& path, int volume, TypedSource* source) {
    auto frames = std::make_shared<Frames>();
    MghHeader header;
    std::uint64_t fileBytes = 0;
    SampleType type = SampleType::UInt8;
    std::int64_t frame = 0;
    std::string failure = openHeader(path, &frames->file, &header, &frames->gzip, &fileBytes);
    if (failure.empty() && !sampleType(header.type, &type))
        failure = formatString("unsupported MGH type %d (0 UCHAR, 1 INT, 3 FLOAT and 4 SHORT "
                               "are read)",
                               header.type);
    if (failure.empty())
        failure = placeFrame(header, volume, type, fileBytes, frames.get(), &frame);
    if (!failure.empty())
        return failure;
    describe(header, frame, frames->gzip, &source->info);
    source->info.type = type;
    if (frames->gzip) {
        openCompressed(frames, type, source);
        return std::string();
    }
    auto file = std::make_shared<FileHandle>(std::move(frames->file));
    return openRawSamples(file, off_t(frames->offset), hostIsLittleEndian, source);
}

std::int64_t mghFrameCount(const QString& path) {
    FileHandle file;
    MghHeader header;
    bool gzip = false;
    std::uint64_t fileBytes = 0;
    return openHeader(path, &file, &header, &gzip, &fileBytes).empty() ? header.dims[3] : 0;
}

InputFormat mghInputFormat() {
    return {
        "MGH",
        "a FreeSurfer MGH volume (.mgh, .mgz, .mgh.gz; of several frames, the frame --volume T\n"
        "      picks)",
        {"mgh", "mgz", "mgh.gz"},
        nullptr, // a version number, no mark
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openMghSource(path, selection.volume, source);
        },
        [](const QString& path) { printVolumes(path, "MGH", mghFrameCount(path), "frames"); },
        {},
        "mgh",
        nullptr,
        picksVolume,
        {{"application/x-mgh", "FreeSurfer MGH volume", {"mgh", "mgz", "mgh.gz"}}}};
}
