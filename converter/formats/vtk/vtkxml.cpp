#include "vtk/vtkxml.h"

#include "choices.h"
#include "checkedsize.h"
#include "codecs/inflater.h"
#include "inputfile.h"
#include "littleendian.h"
#include "output.h"
#include "storedsamples.h"
#include "systemmemory.h"
#include "text.h"
#include "vtk/vtklegacy.h"
#include "vtk/vtkxmlarray.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

namespace {
struct VtiHeader {
    bool bigEndian = false;
    int wordBytes = 4; // header_type UInt32 or UInt64
    VtiCompressor compressor = VtiCompressor::None;
    std::string compressorName;
    long long extent[6] = {0, 0, 0, 0, 0, 0};
    long long dims[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    bool spacingGiven = false;
    double direction[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool directionGiven = false;
    int pieces = 0;
    std::string dataset;            // --dataset's name, else ""
    std::string scalars;            // PointData's Scalars
    std::vector<std::string> names; // the point data's arrays
    bool cellData = false;
    // The array read: the one --dataset or Scalars names, else the first.
    bool found = false;
    std::string name, typeName, format;
    SampleType type = SampleType::UInt8;
    int channels = 1;
    long long offset = -1;
    QByteArray text;                 // an inline array's text
    std::string encoding;            // AppendedData's
    std::uint64_t appendedStart = 0; // the byte after AppendedData's '_'
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
    h->compressorName = attribute(xml, "compressor");
    const std::pair<const char*, VtiCompressor> compressors[] = {
        {"", VtiCompressor::None},
        {"vtkZLibDataCompressor", VtiCompressor::Zlib},
        {"vtkLZ4DataCompressor", VtiCompressor::Lz4},
        {"vtkLZMADataCompressor", VtiCompressor::Lzma},
    };
    for (const auto& [name, compressor] : compressors)
        if (h->compressorName == name) {
            h->compressor = compressor;
            return std::string();
        }
    return "compressor " + printableText(h->compressorName) +
           ": pack reads uncompressed, zlib, LZ4 and LZMA .vti; re-save with another compressor";
}

std::string readExtent(const std::string& text, long long* extent, long long* dims) {
    double e[6];
    if (!readNumbers(text, 6, e))
        return "bad VTK XML file: an extent of six whole numbers is " + printableText(text);
    for (int k = 0; k < 3; ++k) {
        const double size = e[2 * k + 1] - e[2 * k] + 1;
        if (e[2 * k] != std::floor(e[2 * k]) || e[2 * k + 1] != std::floor(e[2 * k + 1]) ||
            std::fabs(e[2 * k]) > double(INT32_MAX) || size < 1 || size > double(INT32_MAX))
            return "bad VTK XML file: extent " + printableText(text);
        dims[k] = (long long)size;
        extent[2 * k] = (long long)e[2 * k];
        extent[2 * k + 1] = (long long)e[2 * k + 1];
    }
    return std::string();
}

std::string readImageElement(const QXmlStreamReader& xml, VtiHeader* h) {
    std::string failure = readExtent(attribute(xml, "WholeExtent"), h->extent, h->dims);
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
    long long extent[6], dims[3];
    std::string failure = readExtent(attribute(xml, "Extent"), extent, dims);
    if (!failure.empty())
        return failure;
    if (!std::equal(extent, extent + 6, h->extent))
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

// An inline array's text, up to its end: the elements within (VTK's InformationKey of a
// vector's norm range) passed over.
QByteArray inlineText(QXmlStreamReader& xml) {
    QByteArray text;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::Characters)
            text += xml.text().toLatin1();
        else if (token == QXmlStreamReader::StartElement)
            xml.skipCurrentElement();
        else if (token == QXmlStreamReader::EndElement)
            break;
    }
    return text;
}

// A DataArray of the point data: the one read is kept, with its inline text.
std::string readArray(QXmlStreamReader& xml, VtiHeader* h) {
    const std::string name = attribute(xml, "Name");
    h->names.push_back(name);
    const std::string& wanted = h->dataset.empty() ? h->scalars : h->dataset;
    if (h->found || (!wanted.empty() && name != wanted)) {
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
    h->text = inlineText(xml);
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

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k)
        text += (k ? ", " : "") + printableText(names[k]);
    return text;
}

// The array read: the one --dataset names, else the one Scalars names, else the only one.
std::string checkPick(const VtiHeader& h) {
    if (h.names.empty())
        return h.cellData ? "cell data: pack reads point data"
                          : "bad VTK XML file: no point data array";
    if (!h.found)
        return "no point data array " + printableText(h.dataset.empty() ? h.scalars : h.dataset) +
               " (the file holds " + listed(h.names) + ")";
    if (h.dataset.empty() && h.scalars.empty() && h.names.size() > 1)
        return "point data arrays " + listed(h.names) + ": pick one with --dataset NAME";
    if (h.format == "appended" && h.encoding != "raw" && h.encoding != "base64")
        return "bad VTK XML file: an appended array without AppendedData of raw or base64";
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
    return checkPick(*h);
}
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

// What the reader holds whole (the XML, base64 decoded) must fit in half the memory available.
std::string checkHeld(std::uint64_t bytes, const char* what) {
    const std::int64_t available = availableMemory();
    if (available >= 0 && bytes > std::uint64_t(available) / 2)
        return formatString("out of memory: %s of %s, past half the memory available", what,
                            describeBytes(bytes).c_str());
    return std::string();
}

// Appended base64 from the array's offset to the data's end, decoded.
std::string readAppendedBase64(const FileHandle& file, std::uint64_t start, std::uint64_t length,
                               std::vector<unsigned char>* bytes) {
    std::string failure = checkHeld(length, "appended base64");
    if (!failure.empty())
        return failure;
    std::vector<char> text(std::size_t(length), '\0');
    if (!readExactly(fileno(file.get()), start, text.size(), text.data()))
        return "file too short: the appended data can't be read";
    bytes->reserve(text.size() / 4 * 3);
    return decodeBase64(text.data(), text.data() + text.size(), bytes)
               ? std::string()
               : "bad VTK XML array: bad appended base64";
}

// Where the appended data ends: at the closing </AppendedData> among the file's last bytes, so
// that a cut array is not read on into the XML after it; else at the file's end.
std::uint64_t appendedEnd(const FileHandle& file, std::uint64_t fileLength) {
    const std::size_t tail = std::size_t(std::min<std::uint64_t>(fileLength, 256));
    std::string last(tail, '\0');
    if (!readExactly(fileno(file.get()), fileLength - tail, tail, &last[0]))
        return fileLength;
    const std::size_t close = last.rfind("</AppendedData>");
    return close == std::string::npos ? fileLength : fileLength - tail + close;
}

// The array's stored bytes: appended raw data read from the file as slices need it, base64
// decoded into memory.
std::string openStore(const std::shared_ptr<FileHandle>& file, std::uint64_t fileLength,
                      const VtiHeader& h, VtiStore* store) {
    auto bytes = std::make_shared<std::vector<unsigned char>>();
    if (h.format == "binary") {
        bytes->reserve(std::size_t(h.text.size()) / 4 * 3);
        if (!decodeBase64(h.text.constData(), h.text.constData() + h.text.size(), bytes.get()))
            return "bad VTK XML array: bad base64";
        store->memory = bytes;
        store->length = bytes->size();
        return std::string();
    }
    const std::uint64_t end = appendedEnd(*file, fileLength);
    const std::uint64_t length = end - std::min(end, h.appendedStart);
    if (std::uint64_t(h.offset) >= length)
        return formatString("bad VTK XML array: offset %lld past the %llu bytes of appended data",
                            h.offset, (unsigned long long)length);
    const std::uint64_t start = h.appendedStart + std::uint64_t(h.offset);
    if (h.encoding == "raw") {
        store->file = file;
        store->start = start;
        store->length = length - std::uint64_t(h.offset);
        return std::string();
    }
    std::string failure = readAppendedBase64(*file, start, end - start, bytes.get());
    store->memory = bytes;
    store->length = bytes->size();
    return failure;
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
    std::string format = "VTK XML image (" + (h.format == "appended" ? "appended " + h.encoding
                                              : h.format == "ascii"  ? std::string("ASCII")
                                                                     : h.format);
    const char* names[] = {"", ", zlib", ", LZ4", ", LZMA"};
    if (h.format != "ascii")
        format += names[int(h.compressor)];
    const long long* e = h.extent;
    return format + formatString("; extent %lld %lld %lld %lld %lld %lld)", e[0], e[1], e[2], e[3],
                                 e[4], e[5]);
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

namespace {
// The file up to AppendedData's '_', or the whole file when it has none, read a piece at a time.
std::string readXml(const FileHandle& file, std::uint64_t length, QByteArray* text) {
    constexpr std::size_t piece = 1 << 20;
    while (std::uint64_t(text->size()) < length) {
        const std::size_t at = std::size_t(text->size());
        const std::size_t size = std::size_t(std::min<std::uint64_t>(piece, length - at));
        std::string failure = checkHeld(at + size, "the XML");
        if (!failure.empty())
            return failure;
        text->resize(qsizetype(at + size));
        if (!readExactly(fileno(file.get()), at, size, text->data() + at))
            return "file too short: it can't be read to its end";
        const qsizetype appended = text->indexOf("<AppendedData", qsizetype(at > 16 ? at - 16 : 0));
        if (appended >= 0 && text->indexOf('_', appended) >= 0)
            break;
    }
    return std::string();
}

// Each sample takes a byte of the file at least, and deflate packs at most so many into one.
std::string checkFileHolds(const VtiHeader& h, std::uint64_t bytes, std::uint64_t length) {
    if (h.compressor == VtiCompressor::None && bytes / sampleTypeBytes(h.type) > length)
        return formatString("file too short: %llu bytes can't hold %lld x %lld x %lld samples "
                            "of %d values",
                            (unsigned long long)length, h.dims[0], h.dims[1], h.dims[2],
                            h.channels);
    if (h.compressor == VtiCompressor::Zlib && bytes / maxDeflateExpansion > length)
        return "file too short: its compressed blocks can't hold the samples";
    return std::string();
}

std::string openAscii(const VtiHeader& h, std::uint64_t bytes, TypedSource* source) {
    std::string failure = checkHeld(bytes, "ASCII samples");
    if (!failure.empty())
        return failure;
    auto samples = std::make_shared<std::vector<unsigned char>>(std::size_t(bytes));
    failure = readAscii(h, samples.get());
    if (!failure.empty())
        return failure;
    const std::size_t slice = sliceBytes(source->info);
    source->read = [samples, slice](int z, void* out) {
        std::memcpy(out, samples->data() + std::size_t(z) * slice, slice);
        return std::string();
    };
    source->memory = bytes;
    return std::string();
}

std::string openBinary(const std::shared_ptr<FileHandle>& file, std::uint64_t length,
                       const VtiHeader& h, std::uint64_t bytes, TypedSource* source) {
    VtiStore store;
    std::string failure = openStore(file, length, h, &store);
    if (!failure.empty())
        return failure;
    auto array = std::make_shared<VtiArray>();
    failure = array->open(store, h.compressor, h.wordBytes, h.bigEndian, bytes);
    if (failure.empty())
        failure = checkHeld(array->memory(), "a compressed block");
    if (!failure.empty())
        return failure;
    const std::size_t slice = sliceBytes(source->info);
    const bool swap = h.bigEndian == hostIsLittleEndian;
    const SampleType type = h.type;
    source->read = [array, slice, swap, type](int z, void* out) {
        const std::string failure =
            array->read(std::uint64_t(z) * slice, slice, static_cast<unsigned char*>(out));
        if (failure.empty() && swap)
            swapSampleBytes(type, slice / sampleTypeBytes(type), out);
        return failure;
    };
    source->memory = array->memory() + (store.memory ? store.memory->size() : 0);
    return std::string();
}
} // namespace

std::string openVtiSource(const QString& path, const std::string& dataset, TypedSource* source) {
    auto file = std::make_shared<FileHandle>();
    std::uint64_t length = 0;
    if (!openInputWithLength(path, file.get(), &length).empty())
        return cantOpenReason(path);
    QByteArray text;
    std::string failure = readXml(*file, length, &text);
    VtiHeader h;
    h.dataset = dataset;
    if (failure.empty())
        failure = parseHeader(text, &h);
    if (failure.empty() && !independent(h.direction))
        failure = "bad VTK XML file: a Direction whose axes are not independent";
    std::uint64_t bytes = 0;
    if (failure.empty())
        failure = checkVolumeSizes(h.dims[0], h.dims[1], h.dims[2], h.channels, h.type, &bytes);
    if (failure.empty())
        failure = checkFileHolds(h, bytes, length);
    if (!failure.empty())
        return failure;
    describe(h, &source->info);
    failure = h.format == "ascii" ? openAscii(h, bytes, source)
                                  : openBinary(file, length, h, bytes, source);
    if (failure.empty())
        guardReads(source);
    return failure;
}

std::vector<std::string> vtiArrayNames(const QString& path) {
    FileHandle file;
    std::uint64_t length = 0;
    QByteArray text;
    if (!openInputWithLength(path, &file, &length).empty() || !readXml(file, length, &text).empty())
        return {};
    VtiHeader h;
    (void)parseHeader(text, &h); // a file of several arrays is refused until one is picked
    return h.names;
}

InputFormat vtiInputFormat() {
    return {
        "VTK XML image",
        "VTK's XML image data (.vti; one piece, point data of 1 to 4 components, ASCII, base64\n"
        "      or appended, uncompressed, zlib, LZ4 or LZMA; the array Scalars or --dataset NAME\n"
        "      names; VTK's x, y, z along Direction)",
        {"vti"},
        nullptr,
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openVtiSource(path, selection.dataset, source);
        },
        [](const QString& path) { printArrays(path, "VTK XML image", vtiArrayNames(path)); },
        {},
        "vtkxml",
        nullptr,
        picksDataset,
        // The shared MIME database has no type for .vti.
        {{"application/x-vtk-image-data", "VTK XML image data", {"vti"}}}};
}
