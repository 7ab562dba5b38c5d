#include "vtkxml.h"

#include "checkedsize.h"
#include "chunkcodecs.h"
#include "inflater.h"
#include "inputfile.h"
#include "littleendian.h"
#include "storedsamples.h"
#include "text.h"
#include "vtklegacy.h"

#include <QFile>
#include <QXmlStreamReader>

#include <lz4.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

namespace {
enum class Compressor { None, Zlib, Lz4 };

struct VtiHeader {
    bool bigEndian = false;
    int wordBytes = 4; // header_type UInt32 or UInt64
    Compressor compressor = Compressor::None;
    long long dims[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    bool spacingGiven = false;
    double direction[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool directionGiven = false;
    int pieces = 0;
    std::string scalars; // PointData's Scalars
    bool cellData = false;
    // The array read: the first of the point data, or the one Scalars names.
    bool found = false;
    std::string name, typeName, format;
    SampleType type = SampleType::UInt8;
    int channels = 1;
    long long offset = -1;
    QByteArray text;               // an inline array's text
    std::string encoding;          // AppendedData's
    std::size_t appendedStart = 0; // the byte after AppendedData's '_'
};

std::string attribute(const QXmlStreamReader& xml, const char* name) {
    return xml.attributes().value(QLatin1String(name)).toString().toStdString();
}

// Numbers separated by spaces, exactly count of them.
bool readNumbers(const std::string& text, int count, double* out) {
    const QStringList words = QString::fromStdString(text).split(' ', Qt::SkipEmptyParts);
    if (words.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = words[i].toDouble(&ok);
        if (!ok || !std::isfinite(out[i]))
            return false;
    }
    return true;
}

std::string readFileElement(const QXmlStreamReader& xml, VtiHeader* h) {
    if (attribute(xml, "type") != "ImageData")
        return "unsupported VTK XML file of type " + printableText(attribute(xml, "type")) +
               ": only ImageData (.vti) is read";
    const std::string order = attribute(xml, "byte_order");
    if (order != "LittleEndian" && order != "BigEndian")
        return "bad VTK XML file: byte_order " + printableText(order);
    h->bigEndian = order == "BigEndian";
    const std::string word = attribute(xml, "header_type");
    if (word != "" && word != "UInt32" && word != "UInt64")
        return "bad VTK XML file: header_type " + printableText(word) + " (UInt32 or UInt64)";
    h->wordBytes = word == "UInt64" ? 8 : 4;
    const std::string compressor = attribute(xml, "compressor");
    if (compressor == "vtkZLibDataCompressor")
        h->compressor = Compressor::Zlib;
    else if (compressor == "vtkLZ4DataCompressor")
        h->compressor = Compressor::Lz4;
    else if (!compressor.empty())
        return "compressor " + printableText(compressor) +
               ": pack reads uncompressed, zlib and LZ4 .vti; re-save with another compressor";
    return std::string();
}

std::string readExtent(const std::string& text, long long* dims) {
    double e[6];
    if (!readNumbers(text, 6, e))
        return "bad VTK XML file: an extent of six whole numbers is " + printableText(text);
    for (int k = 0; k < 3; ++k) {
        const double size = e[2 * k + 1] - e[2 * k] + 1;
        if (e[2 * k] != std::floor(e[2 * k]) || e[2 * k + 1] != std::floor(e[2 * k + 1]) ||
            size < 1 || size > double(INT32_MAX))
            return "bad VTK XML file: extent " + printableText(text);
        dims[k] = (long long)size;
    }
    return std::string();
}

std::string readImageElement(const QXmlStreamReader& xml, VtiHeader* h) {
    std::string failure = readExtent(attribute(xml, "WholeExtent"), h->dims);
    if (!failure.empty())
        return failure;
    const std::string spacing = attribute(xml, "Spacing");
    if (!spacing.empty() && !readNumbers(spacing, 3, h->spacing))
        return "bad VTK XML file: Spacing " + printableText(spacing);
    h->spacingGiven = !spacing.empty();
    const std::string direction = attribute(xml, "Direction");
    if (!direction.empty() && !readNumbers(direction, 9, h->direction))
        return "bad VTK XML file: Direction " + printableText(direction);
    h->directionGiven = !direction.empty();
    return std::string();
}

std::string readPiece(const QXmlStreamReader& xml, VtiHeader* h) {
    if (++h->pieces > 1)
        return "unsupported VTK XML file of several pieces: pack reads one piece";
    long long dims[3];
    std::string failure = readExtent(attribute(xml, "Extent"), dims);
    if (!failure.empty())
        return failure;
    if (!std::equal(dims, dims + 3, h->dims))
        return "unsupported VTK XML piece: its Extent is not the WholeExtent";
    return std::string();
}

std::string findType(const std::string& name, SampleType* type) {
    const std::pair<const char*, SampleType> types[] = {
        {"Int8", SampleType::Int8},       {"UInt8", SampleType::UInt8},
        {"Int16", SampleType::Int16},     {"UInt16", SampleType::UInt16},
        {"Int32", SampleType::Int32},     {"UInt32", SampleType::UInt32},
        {"Float32", SampleType::Float32}, {"Float64", SampleType::Float64},
    };
    for (const auto& [known, t] : types)
        if (name == known) {
            *type = t;
            return std::string();
        }
    return "unsupported VTK XML type " + printableText(name) +
           " (Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32 and Float64 are read)";
}

// A DataArray of the point data: the one read is kept, with its inline text.
std::string readArray(QXmlStreamReader& xml, VtiHeader* h) {
    const std::string name = attribute(xml, "Name");
    if (h->found || (!h->scalars.empty() && name != h->scalars)) {
        xml.skipCurrentElement();
        return std::string();
    }
    h->found = true;
    h->name = name;
    h->typeName = attribute(xml, "type");
    std::string failure = findType(h->typeName, &h->type);
    if (!failure.empty())
        return failure;
    const std::string components = attribute(xml, "NumberOfComponents");
    double count = 1;
    if (!components.empty() && (!readNumbers(components, 1, &count) || count < 1 || count > 4 ||
                                count != std::floor(count)))
        return "unsupported VTK XML array of " + printableText(components) + " components (1 to 4)";
    h->channels = int(count);
    h->format = attribute(xml, "format");
    if (h->format == "appended") {
        const std::string offset = attribute(xml, "offset");
        double at = -1;
        if (!readNumbers(offset, 1, &at) || at < 0 || at != std::floor(at) || at > 9e15)
            return "bad VTK XML array: offset " + printableText(offset);
        h->offset = (long long)at;
        xml.skipCurrentElement();
        return std::string();
    }
    if (h->format != "ascii" && h->format != "binary")
        return "bad VTK XML array: format " + printableText(h->format);
    h->text = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement).toLatin1();
    return std::string();
}

std::string readElement(QXmlStreamReader& xml, VtiHeader* h, bool* pointData) {
    const QStringView name = xml.name();
    if (name == QLatin1String("VTKFile"))
        return readFileElement(xml, h);
    if (name == QLatin1String("ImageData"))
        return readImageElement(xml, h);
    if (name == QLatin1String("Piece"))
        return readPiece(xml, h);
    if (name == QLatin1String("PointData")) {
        h->scalars = attribute(xml, "Scalars");
        *pointData = true;
    } else if (name == QLatin1String("CellData")) {
        *pointData = false;
    } else if (name == QLatin1String("DataArray")) {
        if (*pointData)
            return readArray(xml, h);
        h->cellData = true;
        xml.skipCurrentElement();
    } else if (name == QLatin1String("AppendedData")) {
        h->encoding = attribute(xml, "encoding");
    } else {
        xml.skipCurrentElement();
    }
    return std::string();
}

// The XML before the appended data: its '_' found, the parser stops at AppendedData.
std::string parseHeader(const QByteArray& file, VtiHeader* h) {
    const qsizetype appended = file.indexOf("<AppendedData");
    qsizetype xmlEnd = file.size();
    if (appended >= 0) {
        const qsizetype mark = file.indexOf('_', appended);
        if (mark < 0)
            return "bad VTK XML file: no '_' before the appended data";
        xmlEnd = mark;
        h->appendedStart = std::size_t(mark) + 1;
    }
    QXmlStreamReader xml(QByteArray::fromRawData(file.constData(), xmlEnd));
    bool pointData = false, started = false;
    while (!xml.atEnd() && h->encoding.empty()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!started && xml.name() != QLatin1String("VTKFile"))
            return "not a VTK XML file: no VTKFile element";
        started = true;
        const std::string failure = readElement(xml, h, &pointData);
        if (!failure.empty())
            return failure;
    }
    if (xml.hasError() && !(appended >= 0 && !h->encoding.empty()))
        return "bad VTK XML file: " + printableText(xml.errorString().toStdString());
    if (!started)
        return "not a VTK XML file: no VTKFile element";
    if (h->pieces == 0)
        return "bad VTK XML file: no ImageData Piece";
    if (!h->found)
        return h->cellData ? "cell data: pack reads point data"
                           : "bad VTK XML file: no point data array";
    if (h->format == "appended" && h->encoding != "raw" && h->encoding != "base64")
        return "bad VTK XML file: an appended array without AppendedData of raw or base64";
    return std::string();
}
} // namespace

namespace {
// Base64 from at to the first '<' (or the end), spaces passed over. Each padded quad ends a run
// of its own, since VTK encodes an array's header and its data apart.
bool decodeBase64(const char* at, const char* end, std::vector<unsigned char>* out) {
    int quad[4], n = 0, pad = 0;
    for (; at < end && *at != '<'; ++at) {
        const char c = *at;
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=' && n >= 2)
            v = 0, ++pad;
        if (v < 0 || (pad > 0 && c != '='))
            return false;
        quad[n++] = v;
        if (n < 4)
            continue;
        const unsigned bits = unsigned(quad[0]) << 18 | unsigned(quad[1]) << 12 |
                              unsigned(quad[2]) << 6 | unsigned(quad[3]);
        const unsigned char bytes[3] = {(unsigned char)(bits >> 16), (unsigned char)(bits >> 8),
                                        (unsigned char)bits};
        out->insert(out->end(), bytes, bytes + 3 - pad);
        n = pad = 0;
    }
    return n == 0;
}

// The array's bytes, header first, as the file holds them after any base64.
std::string arrayBytes(const QByteArray& file, const VtiHeader& h,
                       std::vector<unsigned char>* bytes) {
    if (h.format == "binary")
        return decodeBase64(h.text.constData(), h.text.constData() + h.text.size(), bytes)
                   ? std::string()
                   : "bad VTK XML array: bad base64";
    const std::uint64_t length = std::uint64_t(file.size()) - h.appendedStart;
    if (std::uint64_t(h.offset) >= length)
        return formatString("bad VTK XML array: offset %lld past the %llu bytes of appended data",
                            h.offset, (unsigned long long)length);
    const char* start = file.constData() + h.appendedStart + h.offset;
    const char* end = file.constData() + file.size();
    if (h.encoding == "raw") {
        bytes->assign(start, end);
        return std::string();
    }
    return decodeBase64(start, end, bytes) ? std::string()
                                           : "bad VTK XML array: bad appended base64";
}

struct Words {
    const std::vector<unsigned char>& bytes;
    const VtiHeader& h;
    std::size_t at = 0;
    bool next(std::uint64_t* value) {
        if (bytes.size() - at < std::size_t(h.wordBytes))
            return false;
        *value = 0;
        for (int i = 0; i < h.wordBytes; ++i) {
            const int b = h.bigEndian ? i : h.wordBytes - 1 - i;
            *value = *value << 8 | bytes[at + std::size_t(b)];
        }
        at += std::size_t(h.wordBytes);
        return true;
    }
};

std::string decodeBlock(Compressor compressor, const unsigned char* in, std::size_t size,
                        unsigned char* out, std::size_t expected) {
    if (compressor == Compressor::Zlib)
        return decodeChunk(ChunkCodec::Zlib, in, size, out, expected);
    if (size > std::size_t(INT_MAX) || expected > std::size_t(INT_MAX))
        return "lz4 block too large";
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(in),
                                        reinterpret_cast<char*>(out), int(size), int(expected));
    return got >= 0 && std::size_t(got) == expected ? std::string() : "bad lz4 data";
}

// The compressed blocks: [count, block size, last block's size, each one's compressed size],
// then the blocks, each inflating to exactly its size.
std::string decompress(const std::vector<unsigned char>& bytes, const VtiHeader& h,
                       std::vector<unsigned char>* out) {
    Words words{bytes, h};
    std::uint64_t blocks = 0, size = 0, last = 0;
    if (!words.next(&blocks) || !words.next(&size) || !words.next(&last))
        return "bad VTK XML array: its compressed header is cut short";
    if (blocks > (bytes.size() - words.at) / std::size_t(h.wordBytes))
        return formatString("bad VTK XML array: %llu blocks, more than the file holds",
                            (unsigned long long)blocks);
    const std::uint64_t lastSize = last == 0 ? size : last;
    if (blocks == 0 || size == 0 || lastSize > size || lastSize > out->size() ||
        (blocks - 1) > (out->size() - lastSize) / size ||
        (blocks - 1) * size + lastSize != out->size())
        return formatString("bad VTK XML array: %llu blocks of %llu bytes (the last %llu), not "
                            "the %zu bytes of the samples",
                            (unsigned long long)blocks, (unsigned long long)size,
                            (unsigned long long)last, out->size());
    std::vector<std::uint64_t> sizes(blocks);
    for (std::uint64_t& s : sizes)
        words.next(&s);
    std::size_t in = words.at, to = 0;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        if (sizes[b] > bytes.size() - in)
            return formatString("file too short: block %llu of the array ends past the data",
                                (unsigned long long)b);
        const std::size_t expected = std::size_t(b + 1 == blocks ? lastSize : size);
        const std::string failure =
            decodeBlock(h.compressor, &bytes[in], std::size_t(sizes[b]), &(*out)[to], expected);
        if (!failure.empty())
            return formatString("block %llu of the array: ", (unsigned long long)b) + failure;
        in += std::size_t(sizes[b]);
        to += expected;
    }
    return std::string();
}

std::string readBinary(const QByteArray& file, const VtiHeader& h,
                       std::vector<unsigned char>* out) {
    std::vector<unsigned char> bytes;
    std::string failure = arrayBytes(file, h, &bytes);
    if (!failure.empty())
        return failure;
    if (h.compressor != Compressor::None)
        return decompress(bytes, h, out);
    Words words{bytes, h};
    std::uint64_t length = 0;
    if (!words.next(&length) || length != out->size())
        return formatString("bad VTK XML array: its header gives %llu bytes, not the %zu of the "
                            "samples",
                            (unsigned long long)length, out->size());
    if (bytes.size() - words.at < out->size())
        return formatString("file too short: the array holds %zu of its %zu bytes",
                            bytes.size() - words.at, out->size());
    std::memcpy(out->data(), &bytes[words.at], out->size());
    return std::string();
}

// A value as the type holds it: integers clamped to their range, NaN as 0.
template <typename T> T clampedSample(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return T(v);
    } else {
        if (std::isnan(v))
            return T(0);
        return T(std::clamp(v, double(std::numeric_limits<T>::min()),
                            double(std::numeric_limits<T>::max())));
    }
}

std::string readAscii(const VtiHeader& h, std::vector<unsigned char>* out) {
    const std::size_t count = out->size() / sampleTypeBytes(h.type);
    const char* at = h.text.constData();
    const char* end = at + h.text.size();
    std::string failure;
    withSampleType(h.type, [&](auto* none) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(none)>>;
        T* samples = reinterpret_cast<T*>(out->data());
        for (std::size_t i = 0; i <= count; ++i) {
            while (at < end && std::strchr(" \t\r\n", *at))
                ++at;
            if (i == count || at == end) {
                if (i < count || at < end)
                    failure = formatString("bad VTK XML array: %s values, not the %zu of the "
                                           "samples",
                                           i < count ? "fewer" : "more", count);
                return;
            }
            const char* word = at;
            while (at < end && !std::strchr(" \t\r\n", *at))
                ++at;
            bool ok = false;
            const double v = QByteArray(word, at - word).toDouble(&ok);
            if (!ok) {
                failure = "bad VTK XML ASCII sample " + printableText(std::string(word, at));
                return;
            }
            samples[i] = clampedSample<T>(v);
        }
    });
    return failure;
}

std::string describeFormat(const VtiHeader& h) {
    std::string format =
        "VTK XML image (" + (h.format == "appended" ? "appended " + h.encoding : h.format);
    if (h.format != "ascii" && h.compressor == Compressor::Zlib)
        format += ", zlib";
    if (h.format != "ascii" && h.compressor == Compressor::Lz4)
        format += ", LZ4";
    return format + ")";
}

bool independent(const double* d) {
    const double det = d[0] * (d[4] * d[8] - d[5] * d[7]) - d[1] * (d[3] * d[8] - d[5] * d[6]) +
                       d[2] * (d[3] * d[7] - d[4] * d[6]);
    return std::isfinite(det) && det != 0;
}

void describe(const VtiHeader& h, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = describeFormat(h);
    info->width = int(h.dims[0]);
    info->height = int(h.dims[1]);
    info->depth = int(h.dims[2]);
    info->channels = h.channels;
    info->type = h.type;
    bool positive = h.spacingGiven;
    for (int k = 0; k < 3; ++k)
        positive = positive && h.spacing[k] > 0;
    std::copy_n(h.spacing, 3, info->spacing);
    info->spacingKnown = positive;
    std::fill_n(info->axisSpacingKnown, 3, positive);
    if (!positive)
        std::fill_n(info->spacing, 3, 1.0);
    setVtkAxes(h.direction, h.directionGiven ? "the Direction" : "VTK's axes", &info->axes);
}
} // namespace

std::string openVtiSource(const QString& path, TypedSource* source) {
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly))
        return cantOpenReason(path);
    const QByteArray file = input.readAll();
    VtiHeader h;
    std::string failure = parseHeader(file, &h);
    if (!failure.empty())
        return failure;
    if (!independent(h.direction))
        return "bad VTK XML file: a Direction whose axes are not independent";
    std::uint64_t bytes = 0;
    failure = checkVolumeSizes(h.dims[0], h.dims[1], h.dims[2], h.channels, h.type, &bytes);
    if (!failure.empty())
        return failure;
    // Each sample takes a byte of the file at least, but for compressed blocks.
    if (h.compressor == Compressor::None &&
        bytes / sampleTypeBytes(h.type) > std::uint64_t(file.size()))
        return formatString("file too short: %lld bytes can't hold %lld x %lld x %lld samples "
                            "of %d values",
                            (long long)file.size(), h.dims[0], h.dims[1], h.dims[2], h.channels);
    if (h.compressor != Compressor::None &&
        bytes / maxDeflateExpansion > std::uint64_t(file.size()))
        return "file too short: its compressed blocks can't hold the samples";
    describe(h, &source->info);
    auto samples = std::make_shared<std::vector<unsigned char>>(std::size_t(bytes));
    failure =
        h.format == "ascii" ? readAscii(h, samples.get()) : readBinary(file, h, samples.get());
    if (!failure.empty())
        return failure;
    if (h.format != "ascii" && h.bigEndian == hostIsLittleEndian)
        swapSampleBytes(h.type, samples->size() / sampleTypeBytes(h.type), samples->data());
    const std::size_t slice = sliceBytes(source->info);
    source->read = [samples, slice](int z, void* out) {
        std::memcpy(out, samples->data() + std::size_t(z) * slice, slice);
        return std::string();
    };
    guardReads(source);
    return std::string();
}
