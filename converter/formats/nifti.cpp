#include "nifti.h"

#include "choices.h"
#include "orientation.h"

#include "checkedsize.h"
#include "files.h"
#include "text.h"
#include "codecs/inflater.h"
#include "inputfile.h"
#include "littleendian.h"
#include "messages.h"
#include "storedsamples.h"
#include "volumefile.h"

#include <nifti2_io.h>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {
// What is read of a NIfTI-1 or -2 header, as the file has it, in host order and wide types.
// A header with its voxels after it (.nii), of a .hdr/.img pair, or Analyze 7.5's (a pair too).
enum class HeaderKind { Single, Pair, Analyze };

struct NiftiHeader {
    HeaderKind kind = HeaderKind::Single;
    int version = 0;      // 1 or 2
    bool swapped = false; // stored in the other byte order
    std::int64_t dim[8] = {};
    int datatype = 0;
    double pixdim[8] = {};
    double voxOffset = 0;
    double slope = 0, intercept = 0;
    int qformCode = 0, sformCode = 0;
    double quatern[6] = {}; // b, c, d, then the offsets x, y, z
    double srow[3][4] = {};
};

template <typename T> T field(const unsigned char* bytes, std::size_t offset, bool swap) {
    return fieldAt<T>(bytes, offset, swap);
}

// The fields of header type H, whose sizes are DimT, reals RealT, xform codes CodeT and voxel
// offset OffsetT: NIfTI-1 stores 16-bit sizes and floats, NIfTI-2 64-bit sizes and doubles.
template <typename H, typename DimT, typename RealT, typename CodeT, typename OffsetT>
void readFields(const unsigned char* b, bool swap, NiftiHeader* h) {
    for (int k = 0; k < 8; ++k) {
        h->dim[k] = field<DimT>(b, offsetof(H, dim) + std::size_t(k) * sizeof(DimT), swap);
        h->pixdim[k] = field<RealT>(b, offsetof(H, pixdim) + std::size_t(k) * sizeof(RealT), swap);
    }
    h->datatype = field<std::int16_t>(b, offsetof(H, datatype), swap);
    h->voxOffset = double(field<OffsetT>(b, offsetof(H, vox_offset), swap));
    h->slope = field<RealT>(b, offsetof(H, scl_slope), swap);
    h->intercept = field<RealT>(b, offsetof(H, scl_inter), swap);
    h->qformCode = field<CodeT>(b, offsetof(H, qform_code), swap);
    h->sformCode = field<CodeT>(b, offsetof(H, sform_code), swap);
    const std::size_t quatern[6] = {offsetof(H, quatern_b), offsetof(H, quatern_c),
                                    offsetof(H, quatern_d), offsetof(H, qoffset_x),
                                    offsetof(H, qoffset_y), offsetof(H, qoffset_z)};
    const std::size_t rows[3] = {offsetof(H, srow_x), offsetof(H, srow_y), offsetof(H, srow_z)};
    for (int k = 0; k < 6; ++k)
        h->quatern[k] = field<RealT>(b, quatern[k], swap);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            h->srow[r][c] = field<RealT>(b, rows[r] + std::size_t(c) * sizeof(RealT), swap);
}

// The header's version and byte order from sizeof_hdr: 348 (NIfTI-1) or 540 (NIfTI-2) in
// either order; 0 when it is neither.
int headerVersion(const unsigned char* bytes, bool* swapped) {
    const std::int32_t size = field<std::int32_t>(bytes, 0, false);
    const std::int32_t reversed = field<std::int32_t>(bytes, 0, true);
    *swapped = reversed == 348 || reversed == 540;
    const std::int32_t value = *swapped ? reversed : size;
    return value == 348 ? 1 : value == 540 ? 2 : 0;
}

// The header's kind from its magic: "n+1" or "n+2" and a NUL in a .nii, "ni1" or "ni2" in a
// pair's .hdr, and in a .hdr anything else from Analyze 7.5, which has no magic. NIfTI-2's four
// bytes after it (which catch a file sent through a text transfer) are left unchecked, since
// nifti_clib writes zeros there. Returns "" or the message.
std::string headerKind(const unsigned char* bytes, bool pair, NiftiHeader* header) {
    const char* magic =
        reinterpret_cast<const char*>(bytes) +
        (header->version == 1 ? offsetof(nifti_1_header, magic) : offsetof(nifti_2_header, magic));
    const char version = char('0' + header->version);
    const bool single = magic[0] == 'n' && magic[1] == '+' && magic[2] == version && !magic[3];
    const bool ofPair = magic[0] == 'n' && magic[1] == 'i' && magic[2] == version && !magic[3];
    if (!pair && ofPair)
        return "unsupported NIfTI: the header of a .hdr/.img pair in one file (rename it .hdr, "
               "with its data beside it as .img)";
    if (pair && single)
        return "bad NIfTI pair: its header is a single file's (rename it .nii)";
    if (!single && !ofPair && (!pair || header->version != 1))
        return "bad NIfTI header: magic";
    header->kind = single ? HeaderKind::Single : ofPair ? HeaderKind::Pair : HeaderKind::Analyze;
    return std::string();
}

// Checks the header as the file has it, before any of it is trusted: the size field, the magic,
// the dimension count as the version's integer in the header's byte order, positive sizes
// and a voxel offset past the header (within the .img of a pair). Fills *header; returns "" or
// the message.
std::string parseHeader(const unsigned char* bytes, std::size_t size, bool pair,
                        NiftiHeader* header) {
    if (size < sizeof(nifti_1_header))
        return pair ? "not a NIfTI or Analyze header" : "not a NIfTI file";
    header->version = headerVersion(bytes, &header->swapped);
    const std::size_t headerBytes =
        header->version == 2 ? sizeof(nifti_2_header) : sizeof(nifti_1_header);
    if (header->version == 0 || size < headerBytes)
        return pair ? "not a NIfTI or Analyze header" : "not a NIfTI file";
    if (const std::string failure = headerKind(bytes, pair, header); !failure.empty())
        return failure;
    if (header->version == 1)
        readFields<nifti_1_header, std::int16_t, float, std::int16_t, float>(bytes, header->swapped,
                                                                             header);
    else
        readFields<nifti_2_header, std::int64_t, double, std::int32_t, std::int64_t>(
            bytes, header->swapped, header);
    std::int64_t* dim = header->dim;
    if (dim[0] < 1 || dim[0] > 7)
        return formatString("bad NIfTI header: dimension count %lld (1 to 7)", (long long)dim[0]);
    for (int k = 1; k < 8; ++k) {
        if (k > dim[0])
            dim[k] = 1;
        else if (dim[k] < 1)
            return formatString("bad NIfTI header: size %lld along axis %d", (long long)dim[k], k);
    }
    // Analyze keeps its orientation byte and origin where NIfTI's xform codes lie.
    if (header->kind == HeaderKind::Analyze)
        header->qformCode = header->sformCode = 0;
    const double offset = header->voxOffset, least = pair ? 0 : double(headerBytes);
    if (!std::isfinite(offset) || offset != std::floor(offset) || offset < least ||
        offset > double(INT64_C(1) << 62))
        return pair ? formatString("bad NIfTI header: voxel offset %g", offset)
                    : formatString("bad NIfTI header: voxel offset %g (the data must follow the "
                                   "%zu-byte header)",
                                   offset, headerBytes);
    return std::string();
}

// Reads and checks the header of an open file, plain or gzip; *gzip says which.
std::string readHeader(std::FILE* file, bool pair, NiftiHeader* header, bool* gzip) {
    unsigned char bytes[sizeof(nifti_2_header)] = {};
    std::size_t got = 0;
    const std::size_t start = std::fread(bytes, 1, 2, file);
    *gzip = start == 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
    if (!*gzip) {
        got = start == 2 ? std::fread(bytes + 2, 1, sizeof bytes - 2, file) + 2 : start;
    } else {
        Inflater inflater(file, 0, -1, true);
        // The larger header is read only when the smaller one's size field asks for it.
        std::size_t want = sizeof(nifti_1_header);
        bool swapped = false;
        Inflater::Result result = inflater.next(bytes, want);
        if (result == Inflater::Result::Done && headerVersion(bytes, &swapped) == 2) {
            result = inflater.next(bytes + want, sizeof bytes - want);
            want = sizeof bytes;
        }
        if (result == Inflater::Result::Damaged)
            return "bad compressed data";
        got = result == Inflater::Result::Done ? want : 0;
    }
    return parseHeader(bytes, got, pair, header);
}

bool sampleType(int datatype, SampleType* type, int* channels) {
    const struct {
        int datatype;
        SampleType type;
        int channels;
    } types[] = {{DT_UINT8, SampleType::UInt8, 1},     {DT_INT8, SampleType::Int8, 1},
                 {DT_UINT16, SampleType::UInt16, 1},   {DT_INT16, SampleType::Int16, 1},
                 {DT_UINT32, SampleType::UInt32, 1},   {DT_INT32, SampleType::Int32, 1},
                 {DT_FLOAT32, SampleType::Float32, 1}, {DT_FLOAT64, SampleType::Float64, 1},
                 {DT_RGB24, SampleType::UInt8, 3},     {DT_RGBA32, SampleType::UInt8, 4}};
    for (const auto& known : types)
        if (known.datatype == datatype) {
            *type = known.type;
            *channels = known.channels;
            return true;
        }
    return false;
}

// The matrix from voxel indices to space of the sform or the qform, when its code is set.
bool formMatrix(const NiftiHeader& h, bool sform, nifti_dmat44* matrix) {
    if (sform) {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                matrix->m[r][c] = r < 3 ? h.srow[r][c] : c == 3 ? 1 : 0;
        return h.sformCode > 0;
    }
    const double* q = h.quatern;
    *matrix = nifti_quatern_to_dmat44(q[0], q[1], q[2], q[3], q[4], q[5], h.pixdim[1], h.pixdim[2],
                                      h.pixdim[3], h.pixdim[0] < 0 ? -1 : 1);
    return h.qformCode > 0;
}

// Where the voxel axes point in RAS+: the columns of the sform when its code is set and it
// places the axes, else of the qform likewise, else the default of a header that gives
// neither, Analyze's axes (i toward the left, j anterior, k superior).
AxisDirections axesOf(const NiftiHeader& header) {
    AxisDirections axes;
    axes.frame = AxisFrame::World;
    for (const bool sform : {true, false}) {
        nifti_dmat44 matrix;
        if (!formMatrix(header, sform, &matrix))
            continue;
        for (int i = 0; i < 3; ++i)
            for (int a = 0; a < 3; ++a)
                axes.axis[i][a] = matrix.m[a][i];
        axes.from = sform ? "the sform" : "the qform";
        if (!orientAxes(axes).degenerate)
            return axes;
    }
    axes = AxisDirections();
    axes.frame = AxisFrame::World;
    axes.axis[0][0] = -1;
    axes.from = "the default axes of a header without sform or qform";
    return axes;
}

// The voxel data of one open file. A vector dimension (the fifth, outermost in the file) stores
// each channel as whole volumes after the other, so one slice's channels lie far apart: each
// channel has a stream of its own. In a gzip file these are inflaters taken, in one forward
// pass, where each channel's first slice starts and copied for each pass, so a pass inflates
// the file once whatever the channel count.
struct Voxels {
    FileHandle file;
    bool gzip = false;
    std::uint64_t offset = 0;   // where the voxels start
    std::uint64_t chunk = 0;    // bytes of one slice of one channel
    std::int64_t volumes = 1;   // along the fourth dimension
    std::int64_t volume = 0;    // the one read
    int depth = 0, streams = 1; // slices; channels stored apart
    int sampleBytes = 1;        // bytes of one stored value of one channel
    std::vector<std::unique_ptr<Inflater>> starts, inflaters; // null for a channel unused
    int next = 0;                                             // the slice the inflaters stand at
    std::vector<unsigned char> scratch;
    std::vector<bool> unused; // channels never read, which read as 0; empty: none

    bool isUsed(int c) const { return unused.empty() || !unused[std::size_t(c)]; }

    void useChannels(const std::vector<int>& used) {
        unused.assign(std::size_t(streams), streams > 1);
        for (int c : used)
            if (c >= 0 && c < streams)
                unused[std::size_t(c)] = false;
        starts.clear(); // a pass starts over, taking only the channels used
        inflaters.clear();
    }

    std::uint64_t at(int c, int z) const {
        return offset + ((std::uint64_t(c) * std::uint64_t(volumes) + std::uint64_t(volume)) *
                             std::uint64_t(depth) +
                         std::uint64_t(z)) *
                            chunk;
    }

    static std::string failure(Inflater::Result result) {
        return result == Inflater::Result::Damaged ? "bad compressed data"
                                                   : volumeMessages::truncated;
    }

    static std::unique_ptr<Inflater> copyOf(const Inflater& inflater) {
        std::unique_ptr<Inflater> copy = inflater.copy();
        if (!copy)
            throw std::bad_alloc();
        return copy;
    }

    std::string startPass() {
        if (starts.empty()) {
            // The stream is inflated up to the start of the last channel used, no further.
            Inflater leader(file.get(), 0, -1, true);
            for (int c = 0; c < streams; ++c) {
                const bool needed = isUsed(c);
                const Inflater::Result result =
                    needed ? leader.skip(at(c, 0) - leader.position) : Inflater::Result::Done;
                if (result != Inflater::Result::Done) {
                    starts.clear(); // a later pass starts over, never with some channels missing
                    return failure(result);
                }
                starts.push_back(needed ? copyOf(leader) : nullptr);
            }
        }
        inflaters.clear();
        for (const auto& start : starts)
            inflaters.push_back(start ? copyOf(*start) : nullptr);
        next = 0;
        return std::string();
    }

    // Fills into with slice z of channel c (zeros for a channel unused).
    std::string fill(int c, int z, unsigned char* into) {
        if (!isUsed(c)) {
            std::memset(into, 0, chunk);
            return std::string();
        }
        if (!gzip) {
            if (fseeko(file.get(), off_t(at(c, z)), SEEK_SET) != 0 ||
                std::fread(into, 1, chunk, file.get()) != chunk)
                return volumeMessages::truncated;
            return std::string();
        }
        Inflater& inflater = *inflaters[std::size_t(c)];
        Inflater::Result result = inflater.skip(at(c, z) - inflater.position);
        if (result == Inflater::Result::Done)
            result = inflater.next(into, chunk);
        return result == Inflater::Result::Done ? std::string() : failure(result);
    }

    // Reads slice z, channels interleaved, in the stored type and byte order.
    std::string read(int z, unsigned char* out) {
        if (gzip && (inflaters.empty() || z < next)) {
            const std::string failure = startPass();
            if (!failure.empty())
                return failure;
        }
        for (int c = 0; c < streams; ++c) {
            unsigned char* into = streams == 1 ? out : (scratch.resize(chunk), scratch.data());
            const std::string failure = fill(c, z, into);
            if (!failure.empty()) {
                inflaters.clear(); // standing at different slices now: the next read rewinds
                return failure;
            }
            if (streams == 1)
                continue;
            const std::size_t bytes = std::size_t(sampleBytes);
            const std::size_t values = chunk / bytes, stride = std::size_t(streams) * bytes;
            for (std::size_t i = 0; i < values; ++i)
                std::memcpy(out + i * stride + std::size_t(c) * bytes, into + i * bytes, bytes);
        }
        next = z + 1;
        return std::string();
    }
};

// Checks that the file can hold all the voxels its header claims, up to the last volume and
// channel: a plain file by its length, a gzip file by deflate's greatest expansion.
std::string checkLength(const NiftiHeader& header, const Voxels& voxels, std::uint64_t fileBytes) {
    std::uint64_t bytes = voxels.chunk * std::uint64_t(voxels.depth);
    for (int k = 4; k <= 5; ++k)
        if (!checkedMultiply(bytes, std::uint64_t(header.dim[k]), &bytes))
            return "too large: the voxels pass 2^63 bytes";
    if (bytes > std::numeric_limits<std::uint64_t>::max() - voxels.offset)
        return "too large: the voxels pass 2^63 bytes";
    const std::uint64_t end = voxels.offset + bytes;
    if (!voxels.gzip && fileBytes < end)
        return volumeMessages::truncated;
    if (voxels.gzip && fileBytes < end / maxDeflateExpansion)
        return formatString("file too short: %llu bytes of gzip data can't hold %llu bytes of "
                            "header and samples",
                            (unsigned long long)fileBytes, (unsigned long long)end);
    return std::string();
}

// Analyze gives no orientation: its axes are taken as nibabel and SPM take them, radiological
// (i toward the patient's left, j anterior, k superior).
void analyzeAxes(AxisDirections* axes) {
    *axes = AxisDirections();
    axes->frame = AxisFrame::World;
    axes->patient = true;
    const double radiological[3][3] = {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::copy(&radiological[0][0], &radiological[0][0] + 9, &axes->axis[0][0]);
    axes->from = "Analyze's default axes";
}

std::string formatName(const NiftiHeader& header) {
    const std::string version = formatString("NIfTI-%d", header.version);
    return header.kind == HeaderKind::Analyze ? "Analyze 7.5"
           : header.kind == HeaderKind::Pair  ? version + " pair"
                                              : version;
}

// Fills info's format, sizes, spacing and orientation from the header.
void describe(const NiftiHeader& header, const Voxels& voxels, VolumeInfo* info) {
    info->format = formatName(header) + (voxels.gzip ? " (gzip)" : "");
    if (voxels.volumes > 1)
        info->format += formatString(", volume %lld of %lld", (long long)voxels.volume,
                                     (long long)voxels.volumes);
    info->width = int(header.dim[1]);
    info->height = int(header.dim[2]);
    info->depth = int(header.dim[3]);
    info->spacingKnown = true;
    for (int k = 0; k < 3; ++k) {
        const double d = std::fabs(header.pixdim[k + 1]);
        info->spacing[k] = std::isfinite(d) && d > 0 ? d : 1;
        info->spacingKnown = info->spacingKnown && std::isfinite(d) && d > 0;
    }
    info->axes = axesOf(header);
    if (header.kind == HeaderKind::Analyze)
        analyzeAxes(&info->axes);
}

// Opens a file of the input; fills *file and *fileBytes. "" or the message.
std::string openPart(const QString& path, FileHandle* file, std::uint64_t* fileBytes) {
    if (!openInputFile(path, file).empty())
        return cantOpenReason(path);
    struct stat status;
    if (fstat(fileno(file->get()), &status) != 0)
        return inputMessages::cantOpen;
    *fileBytes = std::uint64_t(status.st_size);
    return std::string();
}

// Opens the file and reads its header; fills *file, *header, *gzip and *fileBytes.
std::string openHeader(const QString& path, bool pair, FileHandle* file, NiftiHeader* header,
                       bool* gzip, std::uint64_t* fileBytes) {
    const std::string failure = openPart(path, file, fileBytes);
    return failure.empty() ? readHeader(file->get(), pair, header, gzip) : failure;
}

// The header and image files of a pair, found from either one's name.
struct PairFiles {
    QString header, image;
};

const char* const headerSuffixes[] = {".hdr", ".hdr.gz"};
const char* const imageSuffixes[] = {".img", ".img.gz"};

// The stem of path when it ends in one of the suffixes (any case), or a null string.
QString stemOf(const QString& path, const char* const (&suffixes)[2], bool* upper) {
    for (const char* suffix : suffixes)
        if (path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) {
            const int length = int(std::strlen(suffix));
            *upper = path.right(length) == QString(suffix).toUpper();
            return path.left(path.size() - length);
        }
    return QString();
}

// Of the stem with each suffix (in the case of the name given), the first file that exists.
QString partBeside(const QString& stem, const char* const (&suffixes)[2], bool upper) {
    for (const char* suffix : suffixes) {
        const QString name = stem + (upper ? QString(suffix).toUpper() : QString(suffix));
        if (QFileInfo::exists(name))
            return name;
    }
    return QString();
}

bool isPairPath(const QString& path) {
    bool upper = false;
    return !stemOf(path, headerSuffixes, &upper).isNull() ||
           !stemOf(path, imageSuffixes, &upper).isNull();
}

std::string findPair(const QString& path, PairFiles* files) {
    bool upper = false;
    const QString headerStem = stemOf(path, headerSuffixes, &upper);
    const bool fromHeader = !headerStem.isNull();
    const QString stem = fromHeader ? headerStem : stemOf(path, imageSuffixes, &upper);
    files->header = fromHeader ? path : partBeside(stem, headerSuffixes, upper);
    files->image = fromHeader ? partBeside(stem, imageSuffixes, upper) : path;
    if (files->header.isEmpty() || files->image.isEmpty())
        return formatString(
            "a %s without its %s beside it (%s.%s or %s.%s.gz)", fromHeader ? ".hdr" : ".img",
            fromHeader ? ".img" : ".hdr", QFileInfo(stem).fileName().toStdString().c_str(),
            fromHeader ? "img" : "hdr", QFileInfo(stem).fileName().toStdString().c_str(),
            fromHeader ? "img" : "hdr");
    return std::string();
}

// Opens the header and the file of the voxels: one .nii, or a pair's .hdr and .img (plain or
// gzip, as its first bytes show). *other is the file of a pair the input does not name.
std::string openVoxels(const QString& path, NiftiHeader* header, Voxels* voxels,
                       std::uint64_t* fileBytes, QString* other) {
    if (!isPairPath(path))
        return openHeader(path, false, &voxels->file, header, &voxels->gzip, fileBytes);
    PairFiles pair;
    std::string failure = findPair(path, &pair);
    if (!failure.empty())
        return failure;
    *other = pair.header == path ? pair.image : pair.header;
    // A reason about the file the input does not name names that file.
    const auto about = [&](const QString& file, const std::string& reason) {
        return reason.empty() || file == path ? reason : otherFileMessage(file, reason);
    };
    FileHandle headerFile;
    bool gzip = false;
    std::uint64_t headerBytes = 0;
    failure =
        about(pair.header, openHeader(pair.header, true, &headerFile, header, &gzip, &headerBytes));
    if (failure.empty())
        failure = about(pair.image, openPart(pair.image, &voxels->file, fileBytes));
    if (!failure.empty())
        return failure;
    unsigned char start[2] = {};
    voxels->gzip =
        std::fread(start, 1, 2, voxels->file.get()) == 2 && start[0] == 0x1f && start[1] == 0x8b;
    return std::string();
}
} // namespace

std::int64_t niftiVolumeCount(const QString& path) {
    Voxels voxels;
    NiftiHeader header;
    std::uint64_t fileBytes = 0;
    QString other;
    return openVoxels(path, &header, &voxels, &fileBytes, &other).empty() ? header.dim[4] : 0;
}

namespace {
// The stored samples the header gives and the channels of one voxel; "" or the message.
std::string sampleLayout(const NiftiHeader& header, StoredSamples* stored, std::int64_t* channels,
                         bool* rgb) {
    const std::int64_t* dim = header.dim;
    if (dim[6] > 1 || dim[7] > 1)
        return "unsupported NIfTI: dimensions beyond the fifth";
    int valueChannels = 1;
    if (!sampleType(header.datatype, &stored->type, &valueChannels))
        return std::string("unsupported NIfTI data type ") +
               nifti_datatype_to_string(header.datatype);
    *rgb = valueChannels > 1;
    if (*rgb && dim[5] > 1)
        return "unsupported NIfTI: RGB values with a vector dimension";
    *channels = *rgb ? valueChannels : dim[5];
    // RGB bytes are neither swapped nor scaled.
    stored->swapped = !*rgb && header.swapped;
    const double slope = header.slope, intercept = header.intercept;
    const bool scaled =
        !*rgb && slope != 0 && std::isfinite(slope) && !(slope == 1 && intercept == 0);
    // SPM keeps Analyze's scale in its unused fields, an intercept that is no number meaning 0.
    if (scaled && !std::isfinite(intercept) && header.kind != HeaderKind::Analyze)
        return formatString("bad NIfTI header: scale intercept %g", intercept);
    stored->slope = scaled ? slope : 1;
    stored->intercept = scaled && std::isfinite(intercept) ? intercept : 0;
    return std::string();
}

// Where the voxels of the volume asked for lie; "" or the message.
std::string placeVoxels(const NiftiHeader& header, int volume, std::int64_t channels, bool rgb,
                        const StoredSamples& stored, std::uint64_t fileBytes, Voxels* voxels) {
    const std::int64_t* dim = header.dim;
    std::string failure = pickVolume(
        dim[4], volume,
        formatString("NIfTI of %lld volumes along its fourth dimension", (long long)dim[4]),
        &voxels->volume);
    if (failure.empty())
        failure = checkVolumeSizes(dim[1], dim[2], dim[3], channels, stored.type, nullptr);
    if (!failure.empty())
        return failure;
    voxels->offset = std::uint64_t(header.voxOffset);
    voxels->volumes = dim[4];
    voxels->depth = int(dim[3]);
    voxels->streams = rgb ? 1 : int(channels);
    voxels->sampleBytes = int(sampleTypeBytes(stored.type)) * (rgb ? int(channels) : 1);
    voxels->chunk =
        std::uint64_t(dim[1]) * std::uint64_t(dim[2]) * std::uint64_t(voxels->sampleBytes);
    return checkLength(header, *voxels, fileBytes);
}
} // namespace

std::string openNiftiSource(const QString& path, int volume, TypedSource* source) {
    auto voxels = std::make_shared<Voxels>();
    NiftiHeader header;
    std::uint64_t fileBytes = 0;
    QString other;
    std::string failure = openVoxels(path, &header, voxels.get(), &fileBytes, &other);
    StoredSamples stored;
    std::int64_t channels = 1;
    bool rgb = false;
    if (failure.empty())
        failure = sampleLayout(header, &stored, &channels, &rgb);
    if (failure.empty())
        failure = placeVoxels(header, volume, channels, rgb, stored, fileBytes, voxels.get());
    if (!failure.empty())
        return failure;
    if (!other.isEmpty())
        source->files.push_back(other.toStdString());
    VolumeInfo& info = source->info;
    info = VolumeInfo();
    describe(header, *voxels, &info);
    info.channels = int(channels);
    info.type = stored.valueType();
    info.alphaChannel = header.datatype == DT_RGBA32 ? 3 : -1;
    source->concurrent = false;
    source->costlyReads = voxels->gzip;
    readThrough(
        stored,
        [voxels](int z, void* samples) {
            return voxels->read(z, static_cast<unsigned char*>(samples));
        },
        source);
    if (voxels->streams > 1)
        source->useChannels = [voxels](const std::vector<int>& used) { voxels->useChannels(used); };
    guardReads(source);
    return std::string();
}

namespace {
// A single file and a pair are read, and listed, alike.
std::string openNiftiInput(const QString& path, const InputSelection& selection,
                           TypedSource* source) {
    return openNiftiSource(path, selection.volume, source);
}

void printNiftiVolumes(const QString& path) {
    printVolumes(path, "NIfTI", niftiVolumeCount(path), "volumes");
}
} // namespace

InputFormat niftiInputFormat() {
    return {"NIfTI",
            "a NIfTI-1 or -2 file (.nii, .nii.gz; RGB24, RGBA32 or a 5th axis of channels)",
            {"nii", "nii.gz"},
            [](const std::string& start) {
                for (const char* mark : {"n+1", "ni1"})
                    if (hasMarkAt(start, 344, std::string(mark, 4)))
                        return true;
                return hasMarkAt(start, 4, std::string("n+2\0\r\n\032\n", 8)) ||
                       hasMarkAt(start, 4, std::string("ni2\0\r\n\032\n", 8));
            },
            openNiftiInput,
            printNiftiVolumes,
            {},
            "nifti",
            nullptr,
            picksVolume,
            {{"application/x-nifti", "NIfTI image", {"nii", "nii.gz"}}}};
}

InputFormat analyzeInputFormat() {
    return {
        "NIfTI or Analyze pair",
        "a NIfTI-1 or -2 pair or an Analyze 7.5 file (.hdr with its .img beside it, or .hdr.gz\n"
        "      and .img.gz; named by either; Analyze's axes taken as radiological, as SPM does)",
        {"hdr", "hdr.gz", "img", "img.gz"},
        nullptr, // the kind is known from the suffix, its header without any mark
        openNiftiInput,
        printNiftiVolumes,
        {},
        "analyze",
        nullptr,
        picksVolume,
        // .hdr and .img name other formats' files as often: the desktop is not offered them.
        {}};
}
