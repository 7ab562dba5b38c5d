#include "vtk/vtklegacy.h"

#include "checkedsize.h"
#include "inputfile.h"
#include "littleendian.h"
#include "raw.h"
#include "storedsamples.h"
#include "text.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <memory>
#include <sstream>
#include <vector>

namespace {
// The header before the samples is a few short lines; more than this is no legacy file.
const std::size_t maxHeaderBytes = 1 << 16;

struct VtkHeader {
    bool binary = false;
    long long dims[3] = {0, 0, 0};
    double spacing[3] = {1, 1, 1};
    bool spacingGiven = false;
    SampleType type = SampleType::UInt8;
    int channels = 1;
    bool colours = false; // COLOR_SCALARS
    std::string name;
    std::uint64_t dataOffset = 0; // the first byte after the line before the samples
};

std::string lower(std::string word) {
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return word;
}

// The header's lines, each taken with the offset after its newline.
struct Lines {
    const std::string& text;
    std::size_t at = 0;
    bool next(std::string* line) {
        if (at >= text.size())
            return false;
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false;
        *line = text.substr(at, end - at);
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        at = end + 1;
        return true;
    }
    // The next line that holds anything but spaces, split into words.
    bool words(std::vector<std::string>* out) {
        std::string line;
        while (next(&line)) {
            std::istringstream split(line);
            out->clear();
            for (std::string word; split >> word;)
                out->push_back(word);
            if (!out->empty())
                return true;
        }
        return false;
    }
};

bool readCount(const std::string& word, long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(word.c_str(), &end, 10);
    return !word.empty() && *end == '\0' && errno == 0;
}

bool readReal(const std::string& word, double* value) {
    char* end = nullptr;
    *value = std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0' && std::isfinite(*value);
}

std::string findType(const std::string& word, SampleType* type) {
    const std::pair<const char*, SampleType> types[] = {
        {"unsigned_char", SampleType::UInt8}, {"char", SampleType::Int8},
        {"signed_char", SampleType::Int8},    {"unsigned_short", SampleType::UInt16},
        {"short", SampleType::Int16},         {"unsigned_int", SampleType::UInt32},
        {"int", SampleType::Int32},           {"float", SampleType::Float32},
        {"double", SampleType::Float64},
    };
    for (const auto& [name, known] : types)
        if (lower(word) == name) {
            *type = known;
            return std::string();
        }
    return "unsupported VTK scalar type " + printableText(word) +
           " (unsigned_char, char, signed_char, unsigned_short, short, unsigned_int, int, float "
           "and double are read)";
}

std::string parseGeometry(Lines& lines, VtkHeader* h, long long* points) {
    std::vector<std::string> w;
    bool dims = false;
    while (lines.words(&w)) {
        const std::string key = lower(w[0]);
        if (key == "dimensions") {
            if (w.size() != 4)
                return "bad VTK header: DIMENSIONS takes three sizes";
            for (int k = 0; k < 3; ++k)
                if (!readCount(w[std::size_t(k) + 1], &h->dims[k]) || h->dims[k] < 1)
                    return "bad VTK header: DIMENSIONS " + printableText(w[1]) + " " +
                           printableText(w[2]) + " " + printableText(w[3]);
            dims = true;
        } else if (key == "spacing" || key == "aspect_ratio") {
            if (w.size() != 4)
                return "bad VTK header: SPACING takes three numbers";
            for (int k = 0; k < 3; ++k)
                if (!readReal(w[std::size_t(k) + 1], &h->spacing[k]))
                    return "bad VTK header: SPACING of a number that is none";
            h->spacingGiven = true;
        } else if (key == "origin") {
            double origin;
            if (w.size() != 4 || !readReal(w[1], &origin) || !readReal(w[2], &origin) ||
                !readReal(w[3], &origin))
                return "bad VTK header: ORIGIN takes three numbers";
        } else if (key == "point_data") {
            if (w.size() != 2 || !readCount(w[1], points))
                return "bad VTK header: POINT_DATA takes the count of points";
            if (!dims)
                return "bad VTK header: POINT_DATA before DIMENSIONS";
            return std::string();
        } else if (key == "cell_data") {
            return "unsupported VTK cell data: only point data (samples at the points) is read";
        } else {
            return "bad VTK header: unknown line " + printableText(w[0]);
        }
    }
    return "bad VTK header: no POINT_DATA";
}

std::string parseAttribute(Lines& lines, VtkHeader* h) {
    std::vector<std::string> w;
    if (!lines.words(&w))
        return "bad VTK header: no SCALARS or COLOR_SCALARS after POINT_DATA";
    const std::string key = lower(w[0]);
    if (key == "color_scalars") {
        long long values = 0;
        if (w.size() != 3 || !readCount(w[2], &values) || values < 1 || values > 4)
            return "bad VTK header: COLOR_SCALARS takes a name and 1 to 4 values";
        h->name = w[1];
        h->colours = true;
        h->channels = int(values);
        h->type = SampleType::UInt8;
        h->dataOffset = lines.at;
        return std::string();
    }
    if (key != "scalars")
        return "unsupported VTK attribute " + printableText(w[0]) +
               ": only SCALARS and COLOR_SCALARS are read";
    if (w.size() < 3 || w.size() > 4)
        return "bad VTK header: SCALARS takes a name, a type and the components";
    h->name = w[1];
    std::string failure = findType(w[2], &h->type);
    if (!failure.empty())
        return failure;
    long long components = 1;
    if (w.size() == 4 && (!readCount(w[3], &components) || components < 1 || components > 4))
        return "bad VTK header: SCALARS of " + printableText(w[3]) + " components (1 to 4)";
    h->channels = int(components);
    // The lookup table line is optional in files VTK reads.
    const std::size_t before = lines.at;
    if (lines.words(&w) && lower(w[0]) == "lookup_table") {
        if (w.size() != 2)
            return "bad VTK header: LOOKUP_TABLE takes a name";
        h->dataOffset = lines.at;
    } else {
        h->dataOffset = before;
    }
    return std::string();
}

std::string parseHeader(const std::string& text, VtkHeader* h) {
    Lines lines{text};
    std::string line;
    if (!lines.next(&line) || !hasVtkMark(line))
        return "not a VTK legacy file: no \"# vtk DataFile Version\" line";
    if (!lines.next(&line))
        return "bad VTK header: no title line";
    std::vector<std::string> w;
    if (!lines.words(&w) || (lower(w[0]) != "ascii" && lower(w[0]) != "binary"))
        return "bad VTK header: the third line must be ASCII or BINARY";
    h->binary = lower(w[0]) == "binary";
    if (!lines.words(&w) || lower(w[0]) != "dataset" || w.size() != 2)
        return "bad VTK header: no DATASET line";
    if (lower(w[1]) != "structured_points")
        return "unsupported VTK dataset " + printableText(w[1]) +
               ": only STRUCTURED_POINTS (a volume of samples) is read";
    long long points = 0;
    std::string failure = parseGeometry(lines, h, &points);
    if (!failure.empty())
        return failure;
    std::uint64_t count = 0;
    if (!checkedProduct({h->dims[0], h->dims[1], h->dims[2]}, 1, maxCheckedSize, &count))
        return formatString("too large: %lld x %lld x %lld samples", h->dims[0], h->dims[1],
                            h->dims[2]);
    if (std::uint64_t(points) != count)
        return formatString("bad VTK header: POINT_DATA %lld, not the %llu points of "
                            "DIMENSIONS",
                            points, (unsigned long long)count);
    return parseAttribute(lines, h);
}

// ASCII samples, parsed forward from the data's start, a slice a call; a call for an earlier
// slice starts over.
struct AsciiSamples {
    FileHandle file;
    VtkHeader header;
    std::size_t sliceValues = 0;
    int next = 0; // the slice the stream stands before

    bool word(std::string* out) {
        out->clear();
        int c;
        while ((c = std::fgetc(file.get())) != EOF && std::isspace(c))
            ;
        while (c != EOF && !std::isspace(c) && out->size() < 64) {
            *out += char(c);
            c = std::fgetc(file.get());
        }
        return !out->empty();
    }

    std::string readSlice(double* values) {
        std::string text;
        for (std::size_t i = 0; i < sliceValues; ++i) {
            if (!word(&text))
                return formatString("file too short: slice %d of the ASCII samples ends after "
                                    "%zu values",
                                    next, i);
            if (!readReal(text, &values[i]) && lower(text) != "nan")
                return "bad VTK ASCII sample " + printableText(text);
            if (lower(text) == "nan")
                values[i] = std::nan("");
        }
        return std::string();
    }

    std::string read(int z, void* samples) {
        if (z < next) {
            if (fseeko(file.get(), off_t(header.dataOffset), SEEK_SET) != 0)
                return "can't read the file again";
            next = 0;
        }
        std::vector<double> values(sliceValues);
        for (; next <= z; ++next) {
            const std::string failure = readSlice(values.data());
            if (!failure.empty())
                return failure;
        }
        withSampleType(header.type, [&](auto* none) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(none)>>;
            T* out = static_cast<T*>(samples);
            for (std::size_t i = 0; i < sliceValues; ++i) {
                // Colours are 0 to 1 in ASCII, bytes in binary: both read as bytes.
                const double v =
                    header.colours ? std::round(std::clamp(values[i], 0.0, 1.0) * 255) : values[i];
                out[i] = clampedSample<T>(v);
            }
        });
        return std::string();
    }
};
} // namespace

bool hasVtkMark(const std::string& start) {
    return lower(start.substr(0, 22)) == "# vtk datafile version";
}

void setVtkAxes(const double direction[9], const std::string& from, AxisDirections* axes) {
    axes->frame = AxisFrame::World;
    axes->patient = false;
    axes->from = from;
    for (int i = 0; i < 3; ++i)
        for (int a = 0; a < 3; ++a)
            axes->axis[i][a] = direction[a * 3 + i];
}

std::string openVtkSource(const QString& path, TypedSource* source) {
    auto file = std::make_shared<FileHandle>();
    if (!openInputFile(path, file.get()).empty())
        return cantOpenReason(path);
    std::string text(maxHeaderBytes, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file->get()));
    VtkHeader h;
    std::string failure = parseHeader(text, &h);
    if (!failure.empty())
        return failure;
    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = "VTK legacy (" + std::string(h.binary ? "binary" : "ASCII") + ")";
    info.width = int(std::min<long long>(h.dims[0], INT32_MAX));
    info.height = int(std::min<long long>(h.dims[1], INT32_MAX));
    info.depth = int(std::min<long long>(h.dims[2], INT32_MAX));
    info.channels = h.channels;
    info.type = h.type;
    failure = checkVolumeSizes(h.dims[0], h.dims[1], h.dims[2], h.channels, h.type, nullptr);
    if (!failure.empty())
        return failure;
    bool positive = h.spacingGiven;
    for (int k = 0; k < 3; ++k)
        positive = positive && h.spacing[k] > 0;
    std::copy_n(h.spacing, 3, info.spacing);
    info.spacingKnown = positive;
    std::fill_n(info.axisSpacingKnown, 3, positive);
    if (!positive)
        std::fill_n(info.spacing, 3, 1.0);
    if (h.colours)
        info.storedType = h.binary ? "" : "colours 0 to 1 (read as uint8)";
    // Four colour values are VTK's RGBA.
    if (h.colours && h.channels == 4)
        info.alphaChannel = 3;
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    setVtkAxes(identity, "VTK's axes", &info.axes);
    if (h.binary)
        return openRawSamples(file, off_t(h.dataOffset), hostIsLittleEndian, source);
    // Each value takes two bytes at least: a file shorter than that can't hold them.
    struct stat status;
    std::uint64_t values = 0;
    if (fstat(fileno(file->get()), &status) != 0 ||
        !checkedProduct({h.dims[0], h.dims[1], h.dims[2], h.channels}, 2, maxCheckedSize,
                        &values) ||
        std::uint64_t(status.st_size) < h.dataOffset + values - 1)
        return formatString("file too short: %llu bytes of ASCII can't hold %lld x %lld x %lld "
                            "samples of %d values",
                            (unsigned long long)status.st_size, h.dims[0], h.dims[1], h.dims[2],
                            h.channels);
    auto ascii = std::make_shared<AsciiSamples>();
    ascii->header = h;
    ascii->sliceValues = std::size_t(h.dims[0] * h.dims[1] * h.channels);
    ascii->file = std::move(*file);
    if (fseeko(ascii->file.get(), off_t(h.dataOffset), SEEK_SET) != 0)
        return "can't read the samples";
    source->read = [ascii](int z, void* samples) { return ascii->read(z, samples); };
    guardReads(source);
    return std::string();
}

InputFormat vtkLegacyInputFormat() {
    return {"VTK legacy",
            "a VTK legacy file of STRUCTURED_POINTS (.vtk; ASCII or binary, SCALARS of 1 to 4\n"
            "      components or COLOR_SCALARS; VTK's x, y, z as stored, spacing from SPACING)",
            {"vtk"},
            hasVtkMark,
            [](const QString& path, const InputSelection&, TypedSource* source) {
                return openVtkSource(path, source);
            },
            nullptr,
            {},
            "vtk",
            nullptr,
            picksNone,
            // .vtk names VTK's meshes and grids as often as its images.
            {},
            {"vtk"}};
}
