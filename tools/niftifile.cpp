#include "niftifile.h"

#include "helpers.h"
#include "output.h"
#include "typedread.h"
#include "volumefile.h"

#include <QFile>
#include <QtEndian>

#include <nifti2_io.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {
struct ImageFree {
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};
using ImageHandle = std::unique_ptr<nifti_image, ImageFree>;

struct GzClose {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzHandle = std::unique_ptr<gzFile_s, GzClose>;

// Standard error sent to /dev/null while alive: the library's messages would break a
// one-line refusal. Only used while opening, before any other thread reads the file.
struct QuietStderr {
    int saved = -1;
    QuietStderr() {
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0)
            return;
        saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
        if (saved >= 0)
            dup2(null, 2);
        ::close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (saved >= 0) {
            dup2(saved, 2);
            ::close(saved);
        }
    }
};

// A gzip stream over a fresh descriptor of the file; gzip's reader passes plain files through.
// Only a regular file that is the one first opened (same device and inode) is taken.
GzHandle openStream(const QString& path, const struct stat& expected) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    struct stat info;
    if (!file || fstat(fileno(file.get()), &info) != 0 || info.st_dev != expected.st_dev ||
        info.st_ino != expected.st_ino)
        return GzHandle();
    const int fd = dup(fileno(file.get()));
    if (fd < 0)
        return GzHandle();
    gzFile_s* stream = gzdopen(fd, "rb");
    if (!stream) {
        close(fd);
        return GzHandle();
    }
    gzbuffer(stream, 1 << 16);
    return GzHandle(stream);
}

bool sampleType(int datatype, SampleType* type, int* channels) {
    *channels = 1;
    switch (datatype) {
    case DT_UINT8:
        *type = SampleType::UInt8;
        return true;
    case DT_INT8:
        *type = SampleType::Int8;
        return true;
    case DT_UINT16:
        *type = SampleType::UInt16;
        return true;
    case DT_INT16:
        *type = SampleType::Int16;
        return true;
    case DT_UINT32:
        *type = SampleType::UInt32;
        return true;
    case DT_INT32:
        *type = SampleType::Int32;
        return true;
    case DT_FLOAT32:
        *type = SampleType::Float32;
        return true;
    case DT_FLOAT64:
        *type = SampleType::Float64;
        return true;
    case DT_RGB24:
        *type = SampleType::UInt8;
        *channels = 3;
        return true;
    case DT_RGBA32:
        *type = SampleType::UInt8;
        *channels = 4;
        return true;
    default:
        return false;
    }
}

// "x: left to right, y: posterior to anterior, z: inferior to superior" from the qform, else
// the sform; "" when the file gives neither.
std::string orientationOf(const nifti_image& image) {
    if (image.qform_code <= 0 && image.sform_code <= 0)
        return std::string();
    int codes[3] = {0, 0, 0};
    nifti_dmat44_to_orientation(image.qform_code > 0 ? image.qto_xyz : image.sto_xyz, &codes[0],
                                &codes[1], &codes[2]);
    std::string words;
    const char* axes[] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        std::string side = nifti_orientation_string(codes[k]);
        for (char& c : side)
            c = c == '-' ? ' ' : char(std::tolower(static_cast<unsigned char>(c)));
        words += std::string(k ? ", " : "") + axes[k] + ": " + side;
    }
    return words;
}

// The voxel data of one open file: a stream per channel, since a vector dimension stores each
// channel as a whole volume after the other, and each stream only moves forward in a pass.
struct Voxels {
    QString path;
    struct stat file;
    std::int64_t offset = 0; // where the voxels start
    int depth = 0;
    int channels = 1;      // streams: the vector dimension's length
    std::size_t chunk = 0; // bytes of one slice of one channel
    int sampleBytes = 1;   // bytes of one stored value of one channel
    std::vector<GzHandle> streams;
    std::vector<std::int64_t> positions; // where each stream stands, past offset
    std::vector<unsigned char> scratch;

    std::string seek(std::size_t c, std::int64_t target) {
        if (!streams[c] || target < positions[c]) {
            streams[c] = openStream(path, file);
            if (!streams[c])
                return fileMessage(path, inputMessages::cantOpen);
            positions[c] = -offset;
        }
        if (positions[c] < target) {
            if (gzseek(streams[c].get(), z_off_t(offset + target), SEEK_SET) !=
                z_off_t(offset + target))
                return fileMessage(path, volumeMessages::truncated);
            positions[c] = target;
        }
        return std::string();
    }

    // Reads slice z, channels interleaved, in the stored type and byte order.
    std::string read(int z, unsigned char* out) {
        const std::string truncated = fileMessage(path, volumeMessages::truncated);
        for (std::size_t c = 0; c < std::size_t(channels); ++c) {
            const std::int64_t target = (std::int64_t(c) * depth + z) * std::int64_t(chunk);
            std::string failure = seek(c, target);
            if (!failure.empty())
                return failure;
            unsigned char* into = channels == 1 ? out : (scratch.resize(chunk), scratch.data());
            for (std::size_t done = 0; done < chunk;) {
                const unsigned part = unsigned(std::min<std::size_t>(chunk - done, 1u << 30));
                const int got = gzread(streams[c].get(), into + done, part);
                if (got <= 0) {
                    int code = 0;
                    gzerror(streams[c].get(), &code);
                    streams[c].reset();
                    return code != Z_OK && code != Z_BUF_ERROR
                               ? fileMessage(path, "bad compressed data")
                               : truncated;
                }
                done += std::size_t(got);
            }
            positions[c] = target + std::int64_t(chunk);
            if (channels > 1) {
                const std::size_t values = chunk / std::size_t(sampleBytes);
                const std::size_t stride = std::size_t(channels) * std::size_t(sampleBytes);
                for (std::size_t i = 0; i < values; ++i)
                    std::memcpy(out + i * stride + c * std::size_t(sampleBytes),
                                into + i * std::size_t(sampleBytes), std::size_t(sampleBytes));
            }
        }
        return std::string();
    }
};
} // namespace

std::string openNiftiSource(const QString& path, int volume, TypedSource* source) {
    if (volume > 0)
        return fileMessage(path, formatString("no volume %d: the input holds one", volume));
    nifti_set_debug_level(0); // the library's notes on standard error would break one-line refusals
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return fileMessage(path, inputMessages::cantOpen);
    auto voxels = std::make_shared<Voxels>();
    voxels->path = path;
    if (fstat(fileno(file.get()), &voxels->file) != 0)
        return fileMessage(path, inputMessages::cantOpen);
    GzHandle stream = openStream(path, voxels->file);
    if (!stream)
        return fileMessage(path, inputMessages::cantOpen);
    unsigned char bytes[sizeof(nifti_2_header)] = {};
    const int got = gzread(stream.get(), bytes, sizeof bytes);
    const int version =
        got > 0 ? nifti_header_version(reinterpret_cast<const char*>(bytes), std::size_t(got)) : -1;
    if (!(version == 1 && got >= int(sizeof(nifti_1_header))) &&
        !(version == 2 && got >= int(sizeof(nifti_2_header))))
        return fileMessage(path, "not a NIfTI file");
    // The library walks dim[1..dim[0]] before checking dim[0]: the count must be 1 to 7 in one
    // of the two byte orders.
    std::int64_t dims = 0, swapped = 0;
    if (version == 1) {
        std::int16_t value;
        std::memcpy(&value, bytes + offsetof(nifti_1_header, dim), sizeof value);
        dims = value;
        swapped = qbswap(value);
    } else {
        std::int64_t value;
        std::memcpy(&value, bytes + offsetof(nifti_2_header, dim), sizeof value);
        dims = value;
        swapped = qbswap(value);
    }
    if (!(dims >= 1 && dims <= 7) && !(swapped >= 1 && swapped <= 7))
        return fileMessage(path, "bad NIfTI header: dimension count");
    ImageHandle image;
    const std::string name = QFile::encodeName(path).toStdString();
    {
        QuietStderr quiet; // the library prints its complaints whatever the debug level
        if (version == 1) {
            nifti_1_header header;
            std::memcpy(&header, bytes, sizeof header);
            image.reset(nifti_convert_n1hdr2nim(header, name.c_str()));
        } else {
            nifti_2_header header;
            std::memcpy(&header, bytes, sizeof header);
            image.reset(nifti_convert_n2hdr2nim(header, name.c_str()));
        }
    }
    if (!image)
        return fileMessage(path, "bad NIfTI header");
    if (image->nifti_type != NIFTI_FTYPE_NIFTI1_1 && image->nifti_type != NIFTI_FTYPE_NIFTI2_1)
        return fileMessage(path, "unsupported NIfTI: a header without its data (.hdr/.img "
                                 "pairs are not read; save it as .nii)");
    const std::int64_t* dim = image->dim;
    if (dim[0] < 1 || dim[0] > 7)
        return fileMessage(path,
                           formatString("bad NIfTI header: %lld dimensions", (long long)dim[0]));
    std::int64_t sizes[8] = {0, 1, 1, 1, 1, 1, 1, 1};
    for (int k = 1; k <= dim[0]; ++k) {
        if (dim[k] < 1)
            return fileMessage(path, formatString("bad NIfTI header: size %lld along axis %d",
                                                  (long long)dim[k], k));
        sizes[k] = dim[k];
    }
    if (sizes[4] > 1)
        return fileMessage(path, formatString("unsupported NIfTI: %lld time points (only one "
                                              "can be a volume)",
                                              (long long)sizes[4]));
    if (sizes[6] > 1 || sizes[7] > 1)
        return fileMessage(path, "unsupported NIfTI: dimensions beyond the fifth");
    SampleType type;
    int valueChannels = 1;
    if (!sampleType(image->datatype, &type, &valueChannels))
        return fileMessage(path, std::string("unsupported NIfTI data type ") +
                                     nifti_datatype_to_string(image->datatype));
    if (valueChannels > 1 && sizes[5] > 1)
        return fileMessage(path, "unsupported NIfTI: RGB values with a vector dimension");
    const std::int64_t channels = valueChannels > 1 ? valueChannels : sizes[5];
    std::uint64_t volumeBytes = 0;
    std::string failure =
        checkVolumeSizes(sizes[1], sizes[2], sizes[3], channels, type, &volumeBytes);
    if (!failure.empty())
        return fileMessage(path, failure);
    if (image->iname_offset < 0 || image->iname_offset > (INT64_C(1) << 40))
        return fileMessage(path, "bad NIfTI header: voxel offset");
    voxels->offset = image->iname_offset;
    // A plain file's length is known now; a compressed one's shows as it is read.
    const bool compressed = !gzdirect(stream.get());
    if (!compressed &&
        std::uint64_t(voxels->file.st_size) < std::uint64_t(voxels->offset) + volumeBytes)
        return fileMessage(path, volumeMessages::truncated);

    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = std::string(version == 1 ? "NIfTI-1" : "NIfTI-2") + (compressed ? " (gzip)" : "");
    info.width = int(sizes[1]);
    info.height = int(sizes[2]);
    info.depth = int(sizes[3]);
    info.channels = int(channels);
    info.type = type;
    info.alphaChannel = image->datatype == DT_RGBA32 ? 3 : -1;
    const double* pixdim = image->pixdim;
    info.spacingKnown = true;
    for (int k = 0; k < 3; ++k) {
        const double d = std::fabs(pixdim[k + 1]);
        info.spacing[k] = std::isfinite(d) && d > 0 ? d : 1;
        info.spacingKnown = info.spacingKnown && std::isfinite(d) && d > 0;
    }
    info.orientation = orientationOf(*image);

    const bool rgb = valueChannels > 1;
    const double slope = image->scl_slope, intercept = image->scl_inter;
    const bool scaled = !rgb && slope != 0 && std::isfinite(slope) && std::isfinite(intercept) &&
                        !(slope == 1 && intercept == 0);
    const SampleType stored = type;
    if (scaled)
        info.type = stored == SampleType::Float64 ? SampleType::Float64 : SampleType::Float32;
    const bool swap = !rgb && image->byteorder != nifti_short_order();

    voxels->depth = info.depth;
    voxels->channels = rgb ? 1 : info.channels;
    voxels->sampleBytes = int(sampleTypeBytes(stored)) * (rgb ? valueChannels : 1);
    voxels->chunk =
        std::size_t(info.width) * std::size_t(info.height) * std::size_t(voxels->sampleBytes);
    voxels->streams.resize(std::size_t(voxels->channels));
    voxels->positions.assign(std::size_t(voxels->channels), 0);
    voxels->streams[0] = std::move(stream); // standing past the header: rewound on first use
    voxels->positions[0] = std::int64_t(got) - voxels->offset;
    const std::size_t count =
        std::size_t(info.width) * std::size_t(info.height) * std::size_t(info.channels);
    auto storedSlice = std::make_shared<std::vector<unsigned char>>();
    source->concurrent = false;
    source->read = [voxels, storedSlice, stored, swap, scaled, slope, intercept, count,
                    to = info.type](int z, void* samples) {
        unsigned char* into = static_cast<unsigned char*>(samples);
        if (scaled) {
            storedSlice->resize(count * sampleTypeBytes(stored));
            into = storedSlice->data();
        }
        const std::string failure = voxels->read(z, into);
        if (!failure.empty())
            return failure;
        if (swap)
            swapSampleBytes(stored, count, into);
        if (scaled)
            rescaleSamples(stored, into, count, slope, intercept, to, samples);
        return std::string();
    };
    return std::string();
}
