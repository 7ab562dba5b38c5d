#include "mrc.h"

#include "choices.h"
#include "checkedsize.h"
#include "halffloat.h"
#include "inputfile.h"
#include "littleendian.h"
#include "raw.h"
#include "storedsamples.h"
#include "text.h"
#include "volumefile.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {
const std::size_t headerBytes = 1024;

struct MrcHeader {
    bool swapped = false;
    std::int32_t sizes[3] = {}, mode = 0, sampling[3] = {}, axisOrder[3] = {};
    std::int32_t spaceGroup = 0, extendedBytes = 0;
    float cell[3] = {};
};

// How the samples of one mode are stored and what they are read as.
struct Mode {
    int number;
    SampleType stored, read;
    const char* storedType; // VolumeInfo::storedType, or "" where read as stored
};

const Mode modes[] = {
    {0, SampleType::Int8, SampleType::Int8, ""},
    {1, SampleType::Int16, SampleType::Int16, ""},
    {2, SampleType::Float32, SampleType::Float32, ""},
    {6, SampleType::UInt16, SampleType::UInt16, ""},
    {12, SampleType::UInt16, SampleType::Float32, "float16 (read as float32)"},
    {101, SampleType::UInt8, SampleType::UInt8, "4-bit (read as uint8, 0 to 15)"},
};

// The byte order the machine stamp at 212 gives: 0x44 0x44 (or 0x44 0x41) little-endian,
// 0x11 0x11 big-endian. False for any other stamp.
bool byteOrder(const unsigned char* stamp, bool* little) {
    *little = stamp[0] == 0x44 && (stamp[1] == 0x44 || stamp[1] == 0x41);
    return *little || (stamp[0] == 0x11 && stamp[1] == 0x11);
}

std::string parseHeader(const unsigned char* b, std::size_t size, MrcHeader* h) {
    if (size < headerBytes)
        return "not an MRC file: shorter than its 1024-byte header";
    if (std::memcmp(b + 208, "MAP", 3) != 0)
        return "not an MRC file: no \"MAP\" at byte 208";
    bool little = false;
    if (!byteOrder(b + 212, &little))
        return formatString("bad MRC header: machine stamp 0x%02x 0x%02x gives no byte order",
                            b[212], b[213]);
    h->swapped = little != hostIsLittleEndian;
    const auto integer = [&](std::size_t at) { return fieldAt<std::int32_t>(b, at, h->swapped); };
    for (int k = 0; k < 3; ++k) {
        h->sizes[k] = integer(std::size_t(4 * k));
        h->sampling[k] = integer(std::size_t(28 + 4 * k));
        h->cell[k] = fieldAt<float>(b, std::size_t(40 + 4 * k), h->swapped);
        h->axisOrder[k] = integer(std::size_t(64 + 4 * k));
    }
    h->mode = integer(12);
    h->spaceGroup = integer(88);
    h->extendedBytes = integer(92);
    return std::string();
}

std::string readHeader(std::FILE* file, MrcHeader* header) {
    unsigned char bytes[headerBytes];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    return parseHeader(bytes, got, header);
}

std::string findMode(int number, const Mode** mode) {
    for (const Mode& known : modes)
        if (known.number == number) {
            *mode = &known;
            return std::string();
        }
    if (number == 3 || number == 4)
        return formatString("unsupported MRC mode %d: complex samples (a Fourier transform) have "
                            "no one value to show",
                            number);
    return formatString("unsupported MRC mode %d (modes 0, 1, 2, 6, 12 and 101 are read)", number);
}

// Where the samples lie and how many volumes of how many sections they make.
struct Layout {
    const Mode* mode = nullptr;
    std::uint64_t offset = 0, rowBytes = 0, sliceBytes = 0;
    int depth = 0;
    std::int64_t volumes = 1, volume = 0;
    bool imageStack = false;
};

std::string checkAxes(const MrcHeader& h) {
    for (int k = 0; k < 3; ++k)
        if (h.axisOrder[k] != k + 1)
            return formatString("unsupported MRC axis order: mapc, mapr, maps are %d, %d, %d, and "
                                "only columns along x, rows along y and sections along z (1, 2, 3) "
                                "are read",
                                h.axisOrder[0], h.axisOrder[1], h.axisOrder[2]);
    for (int k = 0; k < 3; ++k)
        if (h.sizes[k] < 1)
            return formatString("bad MRC header: sizes %d x %d x %d", h.sizes[0], h.sizes[1],
                                h.sizes[2]);
    if (h.extendedBytes < 0)
        return formatString("bad MRC header: an extended header of %d bytes", h.extendedBytes);
    return std::string();
}

bool isVolumeStack(const MrcHeader& h) {
    return h.spaceGroup >= 401 && h.spaceGroup <= 630;
}

// The sections as volumes: a volume stack's of mz sections each, else one of them all.
std::string splitSections(const MrcHeader& h, int volume, Layout* layout) {
    const std::int32_t sections = h.sizes[2], perVolume = h.sampling[2];
    layout->depth = sections;
    layout->imageStack = h.spaceGroup == 0 && sections > 1;
    std::string holds = "MRC file of one volume";
    if (isVolumeStack(h)) {
        if (perVolume < 1 || sections % perVolume != 0)
            return formatString("bad MRC header: a volume stack of %d sections, not a whole number "
                                "of volumes of mz = %d sections",
                                sections, perVolume);
        layout->depth = perVolume;
        layout->volumes = sections / perVolume;
        holds = formatString("MRC volume stack of %lld volumes", (long long)layout->volumes);
    }
    return pickVolume(layout->volumes, volume, holds, &layout->volume);
}

// Checks that the file holds every section the header claims after both headers.
std::string placeSamples(const MrcHeader& h, std::uint64_t fileBytes, Layout* layout) {
    const bool nibbles = layout->mode->number == 101;
    const std::uint64_t bytes = sampleTypeBytes(layout->mode->stored);
    // 4-bit rows start on a byte: an odd row ends in half a byte of padding.
    layout->rowBytes = nibbles ? (std::uint64_t(h.sizes[0]) + 1) / 2 : std::uint64_t(h.sizes[0]);
    layout->offset = headerBytes + std::uint64_t(h.extendedBytes);
    std::uint64_t total = 0;
    if (!checkedProduct({std::int64_t(layout->rowBytes), h.sizes[1]}, bytes, maxCheckedSize,
                        &layout->sliceBytes) ||
        !checkedMultiply(layout->sliceBytes, std::uint64_t(h.sizes[2]), &total))
        return formatString("too large: %d x %d x %d samples", h.sizes[0], h.sizes[1], h.sizes[2]);
    if (fileBytes < layout->offset || fileBytes - layout->offset < total)
        return formatString("%s: the header claims %llu bytes of samples after byte %llu, the "
                            "file holds %llu bytes",
                            volumeMessages::truncated, (unsigned long long)total,
                            (unsigned long long)layout->offset, (unsigned long long)fileBytes);
    layout->offset +=
        layout->sliceBytes * std::uint64_t(layout->depth) * std::uint64_t(layout->volume);
    return std::string();
}

std::string planLayout(const MrcHeader& h, int volume, std::uint64_t fileBytes, Layout* layout) {
    std::string failure = findMode(h.mode, &layout->mode);
    if (failure.empty())
        failure = checkAxes(h);
    if (failure.empty())
        failure = splitSections(h, volume, layout);
    if (failure.empty())
        failure =
            checkVolumeSizes(h.sizes[0], h.sizes[1], layout->depth, 1, layout->mode->read, nullptr);
    return failure.empty() ? placeSamples(h, fileBytes, layout) : failure;
}

// The spacing along each axis: the cell's length over its samples, in ångströms, where both
// are positive; an image stack's images lie at no distance along z.
void describeSpacing(const MrcHeader& h, const Layout& layout, VolumeInfo* info) {
    for (int k = 0; k < 3; ++k) {
        const double spacing = double(h.cell[k]) / h.sampling[k];
        const bool known = h.sampling[k] > 0 && std::isfinite(spacing) && spacing > 0 &&
                           !(k == 2 && layout.imageStack);
        info->spacing[k] = known ? spacing : 1;
        info->axisSpacingKnown[k] = known;
    }
    info->spacingKnown =
        info->axisSpacingKnown[0] && info->axisSpacingKnown[1] && info->axisSpacingKnown[2];
    if (layout.imageStack)
        info->spacingNote = "an image stack (space group 0): its images have no distance along z";
}

void describe(const MrcHeader& h, const Layout& layout, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = layout.imageStack ? "MRC image stack" : "MRC";
    if (layout.volumes > 1)
        info->format += formatString(", volume %lld of %lld", (long long)layout.volume,
                                     (long long)layout.volumes);
    info->width = h.sizes[0];
    info->height = h.sizes[1];
    info->depth = layout.depth;
    info->type = layout.mode->read;
    info->storedType = layout.mode->storedType;
    info->axes.frame = AxisFrame::Array;
    describeSpacing(h, layout, info);
    // 4-bit samples would show nearly black as bytes: their own range is the window.
    if (layout.mode->number == 101)
        info->channelDisplay = {ChannelDisplay{-1, true, 0, 15}};
}

// One section read as stored into a buffer, then widened (float16) or unpacked (4-bit).
struct Sections {
    FileHandle file;
    Layout layout;
    bool swapped = false;
    int width = 0, height = 0;
    std::vector<unsigned char> buffer;

    std::string read(int z, void* samples) {
        buffer.resize(std::size_t(layout.sliceBytes));
        const std::uint64_t at = layout.offset + std::uint64_t(z) * layout.sliceBytes;
        if (!readExactly(fileno(file.get()), at, buffer.size(), buffer.data()))
            return volumeMessages::truncated; // the file shrank since it was checked
        if (layout.mode->number == 12)
            widen(static_cast<float*>(samples));
        else
            unpack(static_cast<unsigned char*>(samples));
        return std::string();
    }

    void widen(float* out) {
        const std::size_t count = buffer.size() / 2;
        std::vector<std::uint16_t> halves(count);
        std::memcpy(halves.data(), buffer.data(), buffer.size());
        if (swapped)
            swapSampleBytes(SampleType::UInt16, count, halves.data());
        halvesToFloats(halves.data(), count, out);
    }

    void unpack(unsigned char* out) {
        for (int y = 0; y < height; ++y) {
            const unsigned char* row = buffer.data() + std::size_t(y) * layout.rowBytes;
            for (int x = 0; x < width; ++x)
                *out++ = (row[x / 2] >> (x % 2 ? 4 : 0)) & 0x0f;
        }
    }
};

std::string openSections(const MrcHeader& h, const Layout& layout, FileHandle file,
                         TypedSource* source) {
    if (layout.mode->number != 12 && layout.mode->number != 101) {
        auto shared = std::make_shared<FileHandle>(std::move(file));
        return openRawSamples(shared, off_t(layout.offset), h.swapped, source);
    }
    auto sections = std::make_shared<Sections>();
    sections->file = std::move(file);
    sections->layout = layout;
    sections->swapped = h.swapped;
    sections->width = h.sizes[0];
    sections->height = h.sizes[1];
    source->read = [sections](int z, void* samples) { return sections->read(z, samples); };
    guardReads(source);
    return std::string();
}

std::string openHeader(const QString& path, FileHandle* file, MrcHeader* header,
                       std::uint64_t* fileBytes) {
    const std::string failure = openInputWithLength(path, file, fileBytes);
    return failure.empty() ? readHeader(file->get(), header) : failure;
}
} // namespace

bool hasMrcMark(const std::string& start) {
    return start.size() >= 212 && start.compare(208, 3, "MAP") == 0;
}

std::string openMrcSource(const QString& path, int volume, TypedSource* source) {
    FileHandle file;
    MrcHeader header;
    std::uint64_t fileBytes = 0;
    Layout layout;
    std::string failure = openHeader(path, &file, &header, &fileBytes);
    if (failure.empty())
        failure = planLayout(header, volume, fileBytes, &layout);
    if (!failure.empty())
        return failure;
    describe(header, layout, &source->info);
    return openSections(header, layout, std::move(file), source);
}

std::int64_t mrcVolumeCount(const QString& path) {
    FileHandle file;
    MrcHeader header;
    std::uint64_t fileBytes = 0;
    if (!openHeader(path, &file, &header, &fileBytes).empty())
        return 0;
    const bool stack = isVolumeStack(header) && header.sampling[2] > 0;
    return stack ? header.sizes[2] / header.sampling[2] : 1;
}

InputFormat mrcInputFormat() {
    return {
        "MRC",
        "an MRC or CCP4 map (.mrc, .map, .rec, .st, .ali, .mrcs; modes 0, 1, 2, 6, 12 and 101,\n"
        "      columns, rows and sections along x, y, z; of a volume stack, the volume --volume T\n"
        "      picks)",
        {"mrc", "map", "rec", "st", "ali", "mrcs"},
        hasMrcMark,
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openMrcSource(path, selection.volume, source);
        },
        [](const QString& path) { printVolumes(path, "MRC", mrcVolumeCount(path), "volumes"); },
        {},
        "mrc",
        nullptr,
        picksVolume,
        {{"application/x-mrc", "MRC map", {"mrc", "mrcs"}}},
        {"map", "rec", "st", "ali"}};
}
