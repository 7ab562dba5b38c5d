#include "metaimage.h"

#include "inputfile.h"
#include "files.h"
#include "text.h"
#include "codecs/inflater.h"
#include "messages.h"
#include "storedsamples.h"
#include "volumefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace {
// Headers are a few hundred bytes; this bounds what is read looking for the end of one.
const std::size_t maxHeaderLength = 1 << 16;

const std::map<std::string, SampleType> elementTypes = {
    {"MET_UCHAR", SampleType::UInt8},   {"MET_CHAR", SampleType::Int8},
    {"MET_USHORT", SampleType::UInt16}, {"MET_SHORT", SampleType::Int16},
    {"MET_UINT", SampleType::UInt32},   {"MET_INT", SampleType::Int32},
    {"MET_FLOAT", SampleType::Float32}, {"MET_DOUBLE", SampleType::Float64}};

// The keys read here. Any other key (placement in space, ITK's own, comments) is passed over,
// as MetaImage's own reader does; these must not be given twice.
const char* const usedKeys[] = {"ObjectType",
                                "NDims",
                                "DimSize",
                                "ElementType",
                                "ElementNumberOfChannels",
                                "ElementSpacing",
                                "ElementSize",
                                "BinaryData",
                                "BinaryDataByteOrderMSB",
                                "ElementByteOrderMSB",
                                "CompressedData",
                                "CompressedDataSize",
                                "HeaderSize",
                                "AnatomicalOrientation",
                                "TransformMatrix",
                                "Rotation",
                                "Orientation",
                                "ElementDataFile"};

bool usedKey(const std::string& key) {
    for (const char* k : usedKeys)
        if (key == k)
            return true;
    return false;
}

std::string trim(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return std::string();
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// Whitespace-separated numbers, each whole and finite.
bool numbers(const std::string& value, std::vector<double>* out) {
    std::istringstream words(value);
    std::string word;
    while (words >> word) {
        char* end = nullptr;
        const double number = std::strtod(word.c_str(), &end);
        if (end != word.c_str() + word.size() || !std::isfinite(number))
            return false;
        out->push_back(number);
    }
    return !out->empty();
}

bool integer(const std::string& value, std::int64_t low, std::int64_t high, std::int64_t* out) {
    std::vector<double> values;
    if (!numbers(value, &values) || values.size() != 1 || values[0] != std::floor(values[0]) ||
        values[0] < double(low) || values[0] > double(high))
        return false;
    *out = std::int64_t(values[0]);
    return true;
}

bool boolean(const std::string& value, bool* out) {
    if (value == "True" || value == "true" || value == "1")
        *out = true;
    else if (value == "False" || value == "false" || value == "0")
        *out = false;
    else
        return false;
    return true;
}

// "RAI" and the like: each letter is the side the axis starts from, so R runs toward the left,
// LPS+'s x. False for anything but three sides of different axes.
bool anatomicalAxes(const std::string& code, double lps[3][3]) {
    static const std::string starts = "RLAPIS";
    if (code.size() != 3)
        return false;
    bool seen[3] = {false, false, false};
    for (int k = 0; k < 3; ++k) {
        const std::size_t side = starts.find(code[std::size_t(k)]);
        if (side == std::string::npos || seen[side / 2])
            return false;
        seen[side / 2] = true;
        std::fill(lps[k], lps[k] + 3, 0.0);
        lps[k][side / 2] = side % 2 ? -1 : 1;
    }
    return true;
}

// A data file name that stays in the header's folder: relative, no ".." component, no list or
// numbered pattern.
bool containedName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name.find('%') != std::string::npos)
        return false;
    const QStringList parts = QString::fromStdString(name).split('/');
    for (const QString& part : parts)
        if (part == "..")
            return false;
    return true;
}

// Inflates or copies the data of one pass, slice after slice.
struct DataStream {
    QString dataPath; // the data file, or empty for data in the header's file
    FileHandle file;
    std::int64_t offset = 0;          // where the data starts in the file
    std::int64_t compressedSize = -1; // bytes of compressed input, -1: to the file's end
    bool compressed = false;
    std::unique_ptr<Inflater> inflater; // made at the first pass of compressed data
    int next = 0;                       // the slice the stream stands at
    std::size_t sliceBytes = 0;
    std::vector<unsigned char> skipped;

    // A reason about the data: the header's file's bare, the data file's naming it.
    std::string reason(const std::string& text) const {
        return dataPath.isEmpty() ? text : otherFileMessage(dataPath, text);
    }

    std::string rewind() {
        next = 0;
        if (!compressed)
            return std::string();
        if (!inflater)
            inflater = std::make_unique<Inflater>(file.get(), off_t(offset), compressedSize, false);
        if (!inflater->rewind())
            return reason("can't read the data");
        return std::string();
    }

    std::string inflateSlice(unsigned char* out) {
        switch (inflater->next(out, sliceBytes)) {
        case Inflater::Result::Done:
            return std::string();
        case Inflater::Result::Short:
            return reason("compressed data too short: truncated samples");
        case Inflater::Result::Damaged:
            break;
        }
        return reason("bad compressed data");
    }

    std::string read(int z, unsigned char* out) {
        if (z < next || (compressed && !inflater)) {
            const std::string failure = rewind();
            if (!failure.empty())
                return failure;
        }
        if (!compressed) {
            if (fseeko(file.get(), off_t(offset + std::int64_t(z) * std::int64_t(sliceBytes)),
                       SEEK_SET) != 0 ||
                std::fread(out, 1, sliceBytes, file.get()) != sliceBytes)
                return reason(volumeMessages::truncated);
            next = z + 1;
            return std::string();
        }
        skipped.resize(sliceBytes);
        for (; next < z; ++next) {
            const std::string failure = inflateSlice(skipped.data());
            if (!failure.empty())
                return failure;
        }
        skipped.clear();
        skipped.shrink_to_fit();
        const std::string failure = inflateSlice(out);
        if (!failure.empty())
            return failure;
        next = z + 1;
        return std::string();
    }
};
} // namespace

namespace {
using Values = std::map<std::string, std::string>;

// The used keys' values, up to the ElementDataFile line; sets header->headerLength.
std::string readKeys(const std::string& text, Values* values, MetaImageHeader* header) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Only the last line may end with the text, and only once it is complete.
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = text.substr(pos, end - pos);
        pos = std::min(end + 1, text.size());
        if (trim(line).empty())
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return "bad MetaImage header line '" + trim(line).substr(0, 40) + "'";
        const std::string key = trim(line.substr(0, equals));
        if (!usedKey(key))
            continue;
        if (!values->emplace(key, trim(line.substr(equals + 1))).second)
            return "MetaImage key '" + key + "' given twice";
        if (key == "ElementDataFile") {
            header->headerLength = pos;
            return std::string();
        }
    }
    return "bad MetaImage header: no ElementDataFile line";
}

// ObjectType, NDims and DimSize; fills *dims.
std::string readSizes(Values& values, MetaImageHeader* header, std::int64_t* dims) {
    if (values.count("ObjectType") && values["ObjectType"] != "Image")
        return "unsupported MetaImage object type '" + values["ObjectType"] + "'";
    if (!values.count("NDims") || !integer(values["NDims"], 3, 4, dims))
        return "unsupported MetaImage NDims: not 3 (or 4 with a single time point)";
    std::vector<double> sizes;
    if (!values.count("DimSize") || !numbers(values["DimSize"], &sizes) ||
        sizes.size() != std::size_t(*dims))
        return "bad MetaImage DimSize: not NDims sizes";
    for (const double size : sizes)
        if (size != std::floor(size) || size < 1 || size > 2147483647.0)
            return "bad MetaImage DimSize";
    if (*dims == 4 && sizes[3] != 1)
        return formatString("unsupported MetaImage: %g time points (only one can be a volume)",
                            sizes[3]);
    for (int k = 0; k < 3; ++k)
        header->sizes[k] = int(sizes[std::size_t(k)]);
    return std::string();
}

// ElementType, ElementNumberOfChannels and the spacing.
std::string readSamples(Values& values, std::int64_t dims, MetaImageHeader* header) {
    const auto type = elementTypes.find(values.count("ElementType") ? values["ElementType"] : "");
    if (type == elementTypes.end())
        return "unsupported MetaImage ElementType '" + values["ElementType"].substr(0, 40) + "'";
    header->type = type->second;
    std::int64_t channels = 1;
    if (values.count("ElementNumberOfChannels") &&
        !integer(values["ElementNumberOfChannels"], 1, 64, &channels))
        return "unsupported MetaImage ElementNumberOfChannels (1 to 64)";
    header->channels = int(channels);
    // The spacing, else the size of a sample, which MetaImage's reader takes for the spacing.
    const std::string key = values.count("ElementSpacing") ? "ElementSpacing" : "ElementSize";
    if (!values.count(key))
        return std::string();
    std::vector<double> spacing;
    if (!numbers(values[key], &spacing) || spacing.size() != std::size_t(dims))
        return "bad MetaImage " + key + ": not NDims numbers";
    for (int k = 0; k < 3; ++k) {
        if (!(spacing[std::size_t(k)] > 0))
            return "bad MetaImage " + key + ": not positive";
        header->spacing[k] = spacing[std::size_t(k)];
    }
    header->spacingKnown = true;
    return std::string();
}

// BinaryData, the byte order, compression, HeaderSize and AnatomicalOrientation.
std::string readStorage(Values& values, MetaImageHeader* header) {
    bool binary = true;
    if (values.count("BinaryData") && (!boolean(values["BinaryData"], &binary) || !binary))
        return "unsupported MetaImage: text (BinaryData False) samples";
    bool orders[2] = {false, false};
    const char* keys[2] = {"BinaryDataByteOrderMSB", "ElementByteOrderMSB"};
    for (int k = 0; k < 2; ++k)
        if (values.count(keys[k]) && !boolean(values[keys[k]], &orders[k]))
            return std::string("bad MetaImage ") + keys[k];
    if (values.count(keys[0]) && values.count(keys[1]) && orders[0] != orders[1])
        return "bad MetaImage header: BinaryDataByteOrderMSB and ElementByteOrderMSB disagree";
    header->bigEndian = orders[0] || orders[1];
    if (values.count("CompressedData") && !boolean(values["CompressedData"], &header->compressed))
        return "bad MetaImage CompressedData";
    if (values.count("CompressedDataSize") &&
        !integer(values["CompressedDataSize"], 0, INT64_C(1) << 53, &header->compressedSize))
        return "bad MetaImage CompressedDataSize";
    if (values.count("HeaderSize") &&
        !integer(values["HeaderSize"], -1, INT64_C(1) << 53, &header->headerSize))
        return "bad MetaImage HeaderSize";
    return std::string();
}

// Where the axes point, as ITK reads it: the rows of TransformMatrix (also named Rotation or
// Orientation) are the file axes' directions in LPS+; without one, AnatomicalOrientation (which
// ITK itself passes over) where it names three sides; else ITK's default, the identity.
std::string readAxes(Values& values, std::int64_t dims, MetaImageHeader* header) {
    double lps[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    header->axes.frame = AxisFrame::World;
    header->axes.from = "ITK's default axes";
    for (const char* key : {"TransformMatrix", "Rotation", "Orientation"}) {
        if (!values.count(key))
            continue;
        std::vector<double> m;
        if (!numbers(values[key], &m) || m.size() != std::size_t(dims * dims))
            return std::string("bad MetaImage ") + key + ": not " +
                   formatString("%lld numbers", (long long)(dims * dims));
        for (std::size_t r = 0; r < 3; ++r)
            std::copy_n(&m[r * std::size_t(dims)], 3, lps[r]);
        header->axes.from = std::string("the ") + key;
        break;
    }
    if (header->axes.from.rfind("ITK", 0) == 0 && values.count("AnatomicalOrientation") &&
        anatomicalAxes(values["AnatomicalOrientation"], lps))
        header->axes.from = "AnatomicalOrientation " + values["AnatomicalOrientation"];
    for (int i = 0; i < 3; ++i)
        for (int a = 0; a < 3; ++a)
            header->axes.axis[i][a] = a < 2 ? -lps[i][a] : lps[i][a];
    return std::string();
}

// ElementDataFile.
std::string readDataFile(Values& values, MetaImageHeader* header) {
    header->dataFile = values["ElementDataFile"];
    if (header->dataFile == "LIST" || header->dataFile.find('%') != std::string::npos)
        return "unsupported MetaImage: data in a list or numbered files";
    if (header->dataFile != "LOCAL" && !containedName(header->dataFile))
        return "MetaImage data file '" + header->dataFile.substr(0, 80) +
               "' is outside the header's folder";
    if (header->dataFile == "LOCAL" && header->headerSize != 0)
        return "bad MetaImage HeaderSize for LOCAL data";
    if (header->compressed && header->headerSize < 0)
        return "unsupported MetaImage: HeaderSize -1 with compressed data";
    return std::string();
}
} // namespace

std::string parseMetaImageHeader(const std::string& text, MetaImageHeader* header) {
    Values values;
    std::int64_t dims = 0;
    std::string failure = readKeys(text, &values, header);
    if (failure.empty())
        failure = readSizes(values, header, &dims);
    if (failure.empty())
        failure = readSamples(values, dims, header);
    if (failure.empty())
        failure = readStorage(values, header);
    if (failure.empty())
        failure = readAxes(values, dims, header);
    return failure.empty() ? readDataFile(values, header) : failure;
}

namespace {
// Opens the data file the header names, in the header's folder; fills the stream's file, path
// and offset, and files with the file's canonical name.
std::string openDataFile(const QString& path, const MetaImageHeader& header, DataStream* stream,
                         std::vector<std::string>* files) {
    const QString folder = QFileInfo(path).absolutePath();
    const QString dataPath = QDir(folder).filePath(QString::fromStdString(header.dataFile));
    // Resolving links too: a link in the folder may not lead out of it.
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QString canonicalData = QFileInfo(dataPath).canonicalFilePath();
    if (canonicalData.isEmpty())
        return otherFileMessage(dataPath, "can't open the MetaImage data file");
    if (!canonicalData.startsWith(canonicalFolder + '/'))
        return "MetaImage data file '" + header.dataFile.substr(0, 80) +
               "' is outside the header's folder";
    stream->file = openFile(QFile::encodeName(canonicalData).constData(), "rb");
    if (!stream->file)
        return otherFileMessage(dataPath, "can't open the MetaImage data file: not a regular file");
    stream->dataPath = dataPath;
    stream->offset = header.headerSize;
    // An input too: no output may be written over it.
    files->push_back(QFile::encodeName(canonicalData).toStdString());
    return std::string();
}

// Checks that the data holds the samples (raw) or may (compressed); fixes the offset of data
// at the file's end.
std::string checkDataLength(const MetaImageHeader& header, std::uint64_t volumeBytes,
                            DataStream* stream) {
    const long length = [&] {
        if (fseeko(stream->file.get(), 0, SEEK_SET) != 0)
            return -1L;
        return remainingBytes(stream->file.get());
    }();
    if (length < 0)
        return stream->reason("can't read the data");
    if (header.headerSize < 0)
        stream->offset = std::int64_t(length) - std::int64_t(volumeBytes);
    const std::int64_t available = std::int64_t(length) - stream->offset;
    const std::int64_t needed = header.compressed ? std::max<std::int64_t>(header.compressedSize, 0)
                                                  : std::int64_t(volumeBytes);
    if (stream->offset < 0 || available < needed)
        return stream->reason(volumeMessages::truncated);
    // zlib expands at most 1032-fold: fewer compressed bytes cannot hold the samples.
    const std::int64_t compressedBytes = header.compressedSize >= 0 ? needed : available;
    if (header.compressed && std::uint64_t(compressedBytes) < volumeBytes / maxDeflateExpansion)
        return stream->reason(formatString("file too short: %lld bytes of zlib data can't hold "
                                           "%llu bytes of samples",
                                           (long long)compressedBytes,
                                           (unsigned long long)volumeBytes));
    return std::string();
}

void describe(const MetaImageHeader& header, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = header.compressed ? "MetaImage (zlib)" : "MetaImage";
    info->width = header.sizes[0];
    info->height = header.sizes[1];
    info->depth = header.sizes[2];
    info->channels = header.channels;
    info->type = header.type;
    for (int k = 0; k < 3; ++k)
        info->spacing[k] = header.spacing[k];
    info->spacingKnown = header.spacingKnown;
    info->axes = header.axes;
}

// Reads and parses the header; fills *volumeBytes too.
std::string readHeader(const QString& path, FileHandle* file, MetaImageHeader* header,
                       std::uint64_t* volumeBytes) {
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!*file)
        return cantOpenReason(path);
    std::string text(maxHeaderLength, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file->get()));
    const std::string failure = parseMetaImageHeader(text, header);
    return failure.empty() ? checkVolumeSizes(header->sizes[0], header->sizes[1], header->sizes[2],
                                              header->channels, header->type, volumeBytes)
                           : failure;
}
} // namespace

std::string openMetaImageSource(const QString& path, TypedSource* source) {
    FileHandle headerFile;
    MetaImageHeader header;
    std::uint64_t volumeBytes = 0;
    std::string failure = readHeader(path, &headerFile, &header, &volumeBytes);
    if (!failure.empty())
        return failure;
    auto stream = std::make_shared<DataStream>();
    stream->compressed = header.compressed;
    stream->compressedSize = header.compressedSize;
    source->files.clear();
    if (header.dataFile == "LOCAL") {
        stream->file = std::move(headerFile);
        stream->offset = std::int64_t(header.headerLength);
    } else {
        failure = openDataFile(path, header, stream.get(), &source->files);
    }
    if (failure.empty())
        failure = checkDataLength(header, volumeBytes, stream.get());
    if (!failure.empty())
        return failure;
    describe(header, &source->info);
    stream->sliceBytes = sliceBytes(source->info);
    StoredSamples stored;
    stored.type = header.type;
    stored.swapped = header.bigEndian != (QSysInfo::ByteOrder == QSysInfo::BigEndian);
    source->concurrent = false;
    source->costlyReads = header.compressed;
    readThrough(
        stored,
        [stream](int z, void* samples) {
            return stream->read(z, static_cast<unsigned char*>(samples));
        },
        source);
    return std::string();
}

InputFormat metaImageInputFormat() {
    return {"MetaImage",
            "a MetaImage (.mha, or .mhd with its data file in the same folder; raw or zlib)",
            {"mha", "mhd"},
            nullptr, // a text header of keys in any order
            [](const QString& path, const InputSelection&, TypedSource* source) {
                return openMetaImageSource(path, source);
            },
            nullptr,
            {},
            "metaimage",
            nullptr,
            picksNone,
            {{"application/x-metaimage", "MetaImage volume", {"mha", "mhd"}}}};
}
