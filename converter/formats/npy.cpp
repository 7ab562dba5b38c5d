#include "npy.h"

#include "inputfile.h"
#include "files.h"
#include "littleendian.h"
#include "text.h"
#include "messages.h"
#include "raw.h"

#include <algorithm>
#include <QFile>

#include <climits>
#include <cstring>
#include <memory>

namespace {
const char magic[] = "\x93NUMPY";
const std::size_t magicLength = 6;
// NumPy itself reads no longer headers than this by default; it bounds what is read here.
const std::size_t maxHeaderLength = 1 << 16;

// A strict reader of the one dict literal NumPy writes: string keys, and as values a string,
// True or False, or a tuple of integers.
struct DictReader {
    const std::string& text;
    std::size_t pos = 0;

    void skipSpace() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\n'))
            ++pos;
    }
    bool peek(char c) {
        skipSpace();
        return pos < text.size() && text[pos] == c;
    }
    bool take(char c) {
        if (!peek(c))
            return false;
        ++pos;
        return true;
    }
    bool string(std::string* value) {
        skipSpace();
        if (pos >= text.size() || (text[pos] != '\'' && text[pos] != '"'))
            return false;
        const std::size_t end = text.find(text[pos], pos + 1);
        if (end == std::string::npos)
            return false;
        *value = text.substr(pos + 1, end - pos - 1);
        pos = end + 1;
        return value->find('\\') == std::string::npos; // no escapes in the names read here
    }
    bool word(const char* w) {
        skipSpace();
        if (text.compare(pos, std::strlen(w), w) != 0)
            return false;
        pos += std::strlen(w);
        return true;
    }
    bool tuple(std::vector<long long>* values) {
        if (!take('('))
            return false;
        while (!take(')')) {
            skipSpace();
            std::size_t digits = 0;
            long long value = 0;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 12) {
                value = value * 10 + (text[pos++] - '0');
                ++digits;
            }
            if (digits == 0 || (pos < text.size() && text[pos] >= '0' && text[pos] <= '9'))
                return false;
            values->push_back(value);
            if (!take(',') && !peek(')'))
                return false;
        }
        return true;
    }
};

// The dtype string: a byte order ('<', '>', '|' or '=', none meaning the host's), a kind and
// a size, "<f4" say.
bool parseDtype(const std::string& descr, NpyArray* array) {
    std::string rest = descr;
    char order = '=';
    if (!rest.empty() && std::strchr("<>|=", rest[0])) {
        order = rest[0];
        rest.erase(0, 1);
    }
    const std::pair<const char*, SampleType> types[] = {
        {"u1", SampleType::UInt8},   {"i1", SampleType::Int8},    {"u2", SampleType::UInt16},
        {"i2", SampleType::Int16},   {"u4", SampleType::UInt32},  {"i4", SampleType::Int32},
        {"f4", SampleType::Float32}, {"f8", SampleType::Float64}, {"b1", SampleType::UInt8}};
    for (const auto& [name, type] : types)
        if (rest == name) {
            const bool hostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
            array->type = type;
            array->swap = sampleTypeBytes(type) > 1 &&
                          ((order == '<' && !hostLittle) || (order == '>' && hostLittle));
            // '|' means "not applicable", which NumPy writes only for one-byte types.
            return !(order == '|' && sampleTypeBytes(type) > 1);
        }
    return false;
}

std::string parseDict(const std::string& text, NpyArray* array) {
    DictReader reader{text};
    std::string descr;
    std::vector<long long> shape;
    int fortran = -1;
    bool seenDescr = false, seenShape = false;
    if (!reader.take('{'))
        return "bad .npy header";
    while (!reader.take('}')) {
        std::string key;
        if (!reader.string(&key) || !reader.take(':'))
            return "bad .npy header";
        bool good = false;
        if (key == "descr" && !seenDescr)
            good = seenDescr = reader.string(&descr);
        else if (key == "fortran_order" && fortran < 0) {
            fortran = reader.word("True") ? 1 : reader.word("False") ? 0 : -1;
            good = fortran >= 0;
        } else if (key == "shape" && !seenShape)
            good = seenShape = reader.tuple(&shape);
        if (!good)
            return "bad .npy header";
        if (!reader.take(',') && !reader.peek('}'))
            return "bad .npy header";
    }
    reader.skipSpace();
    if (reader.pos != text.size() || !seenDescr || !seenShape || fortran < 0)
        return "bad .npy header";
    if (!parseDtype(descr, array))
        return "unsupported .npy dtype '" + descr +
               "': need uint8, int8, (u)int16, (u)int32, float32 or float64";
    if (fortran == 1)
        return "unsupported .npy array: Fortran order (save it in C order)";
    if (shape.size() != 3 && shape.size() != 4)
        return "unsupported .npy shape: not (z, y, x) or (z, y, x, channels)";
    for (long long size : shape)
        if (size > INT_MAX)
            return "unsupported .npy shape: too large";
    array->depth = int(shape[0]);
    array->height = int(shape[1]);
    array->width = int(shape[2]);
    array->channels = shape.size() == 4 ? int(shape[3]) : 1;
    return std::string();
}
} // namespace

std::string parseNpyHeader(const std::vector<unsigned char>& bytes, NpyArray* array) {
    if (bytes.size() < magicLength + 4 || std::memcmp(bytes.data(), magic, magicLength) != 0)
        return "not a .npy file";
    const int major = bytes[6], minor = bytes[7];
    if (major < 1 || major > 3 || minor != 0)
        return formatString("unsupported .npy version %d.%d", major, minor);
    // Version 1.0 gives the header's length in two bytes, later ones in four.
    const std::size_t start = major == 1 ? 10 : 12;
    if (bytes.size() < start)
        return "bad .npy header";
    const std::size_t length = major == 1 ? std::size_t(littleEndianHalf(&bytes[8]))
                                          : std::size_t(littleEndianWord(&bytes[8]));
    if (length > maxHeaderLength || bytes.size() < start + length || length == 0 ||
        bytes[start + length - 1] != '\n')
        return "bad .npy header";
    array->dataOffset = start + length;
    return parseDict(std::string(bytes.begin() + long(start), bytes.begin() + long(start + length)),
                     array);
}

std::string encodeNpyHeader(int n) {
    std::string dict = formatString(
        "{'descr': '|u1', 'fortran_order': False, 'shape': (%d, %d, %d, 3), }", n, n, n);
    const std::size_t used = magicLength + 4 + dict.size() + 1; // with the closing newline
    dict.append((64 - used % 64) % 64, ' ');
    dict += '\n';
    std::string header(magic, magicLength);
    header += '\x01';
    header += '\x00';
    header += char(dict.size() & 0xff);
    header += char(dict.size() >> 8);
    return header + dict;
}

void describeNpyArray(const NpyArray& array, const std::string& format, VolumeInfo* info) {
    *info = VolumeInfo();
    info->format = format;
    info->width = array.width;
    info->height = array.height;
    info->depth = array.depth;
    info->channels = array.channels;
    info->type = array.type;
    // No dtype marks alpha; a last axis of 2 or 4 is grey or RGB with alpha by convention.
    info->alphaChannel = array.channels == 2 || array.channels == 4 ? array.channels - 1 : -1;
}

std::string openNpySource(const QString& path, TypedSource* source) {
    auto file = std::make_shared<FileHandle>();
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!*file)
        return cantOpenReason(path);
    std::vector<unsigned char> bytes(12 + maxHeaderLength);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file->get()));
    NpyArray array;
    const std::string failure = parseNpyHeader(bytes, &array);
    if (!failure.empty())
        return failure;
    describeNpyArray(array, ".npy", &source->info);
    return openRawSamples(file, off_t(array.dataOffset), array.swap, source);
}

std::string openNpySink(const QString& path, int n, SliceSink* sink) {
    const std::string failure = openFileSink(path, encodeNpyHeader(n), n, sink);
    if (!failure.empty())
        return failure;
    // An array's first row is the top of the picture: the volume's top row, y = N - 1, goes
    // first, so that packing the array again gives the volume back.
    sink->write = [write = std::move(sink->write), n](const unsigned char* rgb) {
        const std::size_t row = 3 * std::size_t(n);
        thread_local std::vector<unsigned char> flipped;
        flipped.resize(row * std::size_t(n));
        for (std::size_t y = 0; y < std::size_t(n); ++y)
            std::copy_n(rgb + (std::size_t(n) - 1 - y) * row, row, flipped.data() + y * row);
        return write(flipped.data());
    };
    return std::string();
}

InputFormat npyInputFormat() {
    return {".npy",
            "a NumPy array (.npy; shape (z, y, x) or (z, y, x, channels), C order)",
            {"npy"},
            [](const std::string& start) { return hasMarkAt(start, 0, "\x93NUMPY"); },
            [](const QString& path, const InputSelection&, TypedSource* source) {
                return openNpySource(path, source);
            },
            nullptr,
            {{"npy"}, "a NumPy uint8 array of shape (N, N, N, 3)", openNpySink},
            "npy",
            nullptr,
            picksNone,
            {{"application/x-npy", "NumPy array", {"npy"}}}};
}
