#include "dicomseries.h"

#include "contained.h"
#include "helpers.h"
#include "output.h"
#include "typedread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdcmImage.h>
#include <gdcmImageReader.h>
#include <gdcmScanner.h>
#include <gdcmTrace.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

namespace {
const gdcm::Tag seriesUidTag(0x0020, 0x000e);
const gdcm::Tag descriptionTag(0x0008, 0x103e);
const gdcm::Tag positionTag(0x0020, 0x0032);
const gdcm::Tag orientationTag(0x0020, 0x0037);
const gdcm::Tag rowsTag(0x0028, 0x0010);
const gdcm::Tag columnsTag(0x0028, 0x0011);
const gdcm::Tag framesTag(0x0028, 0x0008);
const gdcm::Tag pixelSpacingTag(0x0028, 0x0030);
const gdcm::Tag interceptTag(0x0028, 0x1052);
const gdcm::Tag slopeTag(0x0028, 0x1053);

// Positions closer than this (in millimetres) are the same position.
const double positionTolerance = 1e-3;

const char* const lpsPositive[3] = {"left", "posterior", "superior"};
const char* const lpsNegative[3] = {"right", "anterior", "inferior"};

// GDCM reports its doubts on standard error; a refusal here is one line of its own.
void silenceGdcm() {
    gdcm::Trace::SetDebug(false);
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
}

// Backslash-separated numbers of a scanned value; empty when any is not a finite number.
std::vector<double> numbers(const char* value) {
    std::vector<double> out;
    if (!value)
        return out;
    std::stringstream text(value);
    std::string item;
    while (std::getline(text, item, '\\')) {
        char* end = nullptr;
        const double number = std::strtod(item.c_str(), &end);
        while (end && (*end == ' ' || *end == '\0') && end < item.c_str() + item.size())
            ++end;
        if (end != item.c_str() + item.size() || !std::isfinite(number) || item.empty())
            return std::vector<double>();
        out.push_back(number);
    }
    return out;
}

std::string trimmed(const char* value) {
    std::string text = value ? value : "";
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

int integerValue(const char* value) {
    const std::vector<double> values = numbers(value);
    return values.size() == 1 && values[0] >= 0 && values[0] <= 2147483647.0 ? int(values[0]) : -1;
}

struct ScannedFile {
    std::string path;
    int rows = 0, columns = 0, frames = 1;
    std::vector<double> position, orientation, pixelSpacing;
    double slope = 1, intercept = 0;
    double distance = 0; // along the series' slice normal
};

struct Series {
    std::string uid, description;
    std::vector<ScannedFile> files;
};

// The DICOM image files under path (the file itself, or a folder's regular files; a link
// counts only when it stays in the folder), grouped by series in UID order.
std::string scanSeries(const QString& path, std::vector<Series>* out) {
    silenceGdcm();
    const QFileInfo info(path);
    gdcm::Directory::FilenamesType names;
    struct stat status;
    if (info.isDir()) {
        const QString folder = info.canonicalFilePath();
        const QFileInfoList entries =
            QDir(path).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString target = entry.canonicalFilePath();
            if (target.isEmpty() || !target.startsWith(folder + '/'))
                continue;
            // Messages name the file as the user named its folder.
            const QByteArray name = QFile::encodeName(QDir(path).filePath(entry.fileName()));
            // Only regular files: the scanner opens files with a blocking open.
            if (stat(name.constData(), &status) == 0 && S_ISREG(status.st_mode))
                names.push_back(name.toStdString());
        }
    } else {
        const QByteArray name = QFile::encodeName(path);
        if (stat(name.constData(), &status) != 0)
            return fileMessage(path, inputMessages::cantOpen);
        if (!S_ISREG(status.st_mode))
            return fileMessage(path, "can't open input file: not a regular file or folder");
        names.push_back(name.toStdString());
    }
    gdcm::Scanner scanner;
    for (const gdcm::Tag& tag : {seriesUidTag, descriptionTag, positionTag, orientationTag, rowsTag,
                                 columnsTag, framesTag, pixelSpacingTag, interceptTag, slopeTag})
        scanner.AddTag(tag);
    try {
        if (!names.empty() && !scanner.Scan(names))
            return fileMessage(path, "can't read the DICOM files");
    } catch (...) {
        return fileMessage(path, "can't read the DICOM files");
    }
    std::map<std::string, Series> series;
    for (const std::string& name : names) {
        if (!scanner.IsKey(name.c_str()))
            continue;
        ScannedFile file;
        file.path = name;
        file.rows = integerValue(scanner.GetValue(name.c_str(), rowsTag));
        file.columns = integerValue(scanner.GetValue(name.c_str(), columnsTag));
        if (file.rows <= 0 || file.columns <= 0)
            continue; // not an image (a DICOMDIR, a report)
        const char* frames = scanner.GetValue(name.c_str(), framesTag);
        file.frames = frames ? integerValue(frames) : 1;
        if (file.frames <= 0)
            return fileMessage(QString::fromStdString(name), "bad DICOM Number of Frames");
        file.position = numbers(scanner.GetValue(name.c_str(), positionTag));
        file.orientation = numbers(scanner.GetValue(name.c_str(), orientationTag));
        file.pixelSpacing = numbers(scanner.GetValue(name.c_str(), pixelSpacingTag));
        const std::vector<double> slope = numbers(scanner.GetValue(name.c_str(), slopeTag));
        const std::vector<double> intercept = numbers(scanner.GetValue(name.c_str(), interceptTag));
        file.slope = slope.size() == 1 ? slope[0] : 1;
        file.intercept = intercept.size() == 1 ? intercept[0] : 0;
        const std::string uid = trimmed(scanner.GetValue(name.c_str(), seriesUidTag));
        Series& entry = series[uid];
        entry.uid = uid;
        if (entry.description.empty())
            entry.description = trimmed(scanner.GetValue(name.c_str(), descriptionTag));
        entry.files.push_back(file);
    }
    if (series.empty())
        return fileMessage(path, info.isDir() ? "no slice pictures or DICOM images in this folder"
                                              : "not a DICOM image file");
    for (auto& entry : series)
        out->push_back(std::move(entry.second));
    return std::string();
}

std::string positionList(const std::vector<ScannedFile>& files) {
    std::string text;
    const std::size_t shown = std::min<std::size_t>(files.size(), 12);
    for (std::size_t i = 0; i < shown; ++i)
        text += formatString("%s%g", i ? ", " : "", files[i].distance);
    if (shown < files.size())
        text += formatString(", ... (%zu in all)", files.size());
    return text;
}

// Sorts a series' files along the slice normal and checks that they are evenly spaced; fills
// the spacing between slices and the normal.
std::string orderSlices(const QString& path, Series* series, double* spacing, double normal[3]) {
    std::vector<ScannedFile>& files = series->files;
    const std::vector<double>& first = files[0].orientation;
    *spacing = 1;
    if (files.size() < 2)
        return std::string(); // one slice needs no order, nor a place in space
    if (first.size() != 6)
        return fileMessage(path, "DICOM series without Image Orientation: its slices can't "
                                 "be ordered");
    normal[0] = first[1] * first[5] - first[2] * first[4];
    normal[1] = first[2] * first[3] - first[0] * first[5];
    normal[2] = first[0] * first[4] - first[1] * first[3];
    for (ScannedFile& file : files) {
        if (file.position.size() != 3 || file.orientation.size() != 6)
            return fileMessage(QString::fromStdString(file.path),
                               "DICOM slice without Image Position or Orientation");
        for (std::size_t k = 0; k < 6; ++k)
            if (std::fabs(file.orientation[k] - first[k]) > 1e-4)
                return fileMessage(path, "DICOM series with slices of different orientations");
        if (file.rows != files[0].rows || file.columns != files[0].columns)
            return fileMessage(QString::fromStdString(file.path),
                               formatString("DICOM slice of %d x %d in a series of %d x %d",
                                            file.columns, file.rows, files[0].columns,
                                            files[0].rows));
        file.distance = normal[0] * file.position[0] + normal[1] * file.position[1] +
                        normal[2] * file.position[2];
    }
    std::stable_sort(files.begin(), files.end(), [](const ScannedFile& a, const ScannedFile& b) {
        return a.distance < b.distance;
    });
    const double mean = (files.back().distance - files.front().distance) / double(files.size() - 1);
    for (std::size_t i = 1; i < files.size(); ++i)
        if (files[i].distance - files[i - 1].distance < positionTolerance)
            return fileMessage(path, "DICOM series with repeated slice positions: " +
                                         positionList(files));
    for (std::size_t i = 1; i < files.size(); ++i)
        if (std::fabs(files[i].distance - files[i - 1].distance - mean) >
            positionTolerance + 0.01 * mean)
            return fileMessage(path,
                               "DICOM series with uneven slice positions: " + positionList(files));
    *spacing = mean;
    return std::string();
}

bool sampleType(gdcm::PixelFormat::ScalarType scalar, SampleType* type) {
    switch (scalar) {
    case gdcm::PixelFormat::UINT8:
        *type = SampleType::UInt8;
        return true;
    case gdcm::PixelFormat::INT8:
        *type = SampleType::Int8;
        return true;
    case gdcm::PixelFormat::UINT16:
        *type = SampleType::UInt16;
        return true;
    case gdcm::PixelFormat::INT16:
        *type = SampleType::Int16;
        return true;
    case gdcm::PixelFormat::UINT32:
        *type = SampleType::UInt32;
        return true;
    case gdcm::PixelFormat::INT32:
        *type = SampleType::Int32;
        return true;
    case gdcm::PixelFormat::FLOAT32:
        *type = SampleType::Float32;
        return true;
    case gdcm::PixelFormat::FLOAT64:
        *type = SampleType::Float64;
        return true;
    default:
        return false;
    }
}

// What every file of a series must hold, as the first one does.
struct Layout {
    int columns = 0, rows = 0, frames = 1, channels = 1;
    SampleType type = SampleType::UInt8;
};

// One file's pixels, decoded: frames of rows x columns samples of the layout's type.
struct Decoded {
    std::vector<char> pixels;
    double slope = 1, intercept = 0;
    double spacing[3] = {1, 1, 1};
    double cosines[6] = {1, 0, 0, 0, 1, 0};
};

// Reads and decodes one file, checking that it holds what the layout says (a null layout is
// filled from the file). The pixel data is checked against the sizes: GDCM takes short data.
std::string decodeFile(const std::string& file, Layout* layout, bool fill, Decoded* decoded) {
    const QString name = QString::fromStdString(file);
    gdcm::ImageReader reader;
    reader.SetFileName(file.c_str());
    bool read = false;
    try {
        read = reader.Read();
    } catch (...) {
        read = false;
    }
    if (!read)
        return fileMessage(name, "can't read the DICOM image");
    const gdcm::Image& image = reader.GetImage();
    const gdcm::PixelFormat& format = image.GetPixelFormat();
    SampleType type;
    if (!sampleType(gdcm::PixelFormat::ScalarType(format.GetScalarType()), &type))
        return fileMessage(name, formatString("unsupported DICOM sample type %s (%d bits "
                                              "allocated)",
                                              format.GetScalarTypeAsString(),
                                              int(format.GetBitsAllocated())));
    const int channels = format.GetSamplesPerPixel();
    if (channels != 1 && channels != 3)
        return fileMessage(name, formatString("unsupported DICOM samples per pixel %d", channels));
    const gdcm::PhotometricInterpretation::PIType photometric =
        image.GetPhotometricInterpretation();
    const bool encapsulated = image.GetTransferSyntax().IsEncapsulated();
    const bool usable =
        photometric == gdcm::PhotometricInterpretation::MONOCHROME1 ||
        photometric == gdcm::PhotometricInterpretation::MONOCHROME2 ||
        photometric == gdcm::PhotometricInterpretation::RGB ||
        (encapsulated && (photometric == gdcm::PhotometricInterpretation::YBR_FULL ||
                          photometric == gdcm::PhotometricInterpretation::YBR_FULL_422 ||
                          photometric == gdcm::PhotometricInterpretation::YBR_ICT ||
                          photometric == gdcm::PhotometricInterpretation::YBR_RCT));
    if (!usable ||
        (channels == 3) != (photometric != gdcm::PhotometricInterpretation::MONOCHROME1 &&
                            photometric != gdcm::PhotometricInterpretation::MONOCHROME2))
        return fileMessage(name, std::string("unsupported DICOM photometric interpretation ") +
                                     gdcm::PhotometricInterpretation::GetPIString(photometric));
    const int columns = int(image.GetDimension(0)), rows = int(image.GetDimension(1));
    const int frames = image.GetNumberOfDimensions() > 2 ? int(image.GetDimension(2)) : 1;
    if (fill) {
        layout->columns = columns;
        layout->rows = rows;
        layout->frames = frames;
        layout->channels = channels;
        layout->type = type;
    } else if (columns != layout->columns || rows != layout->rows || frames != layout->frames ||
               channels != layout->channels || type != layout->type) {
        return fileMessage(name, formatString("DICOM image of %d x %d x %d %s, unlike the "
                                              "series' first (%d x %d x %d %s)",
                                              columns, rows, channels, sampleTypeName(type),
                                              layout->columns, layout->rows, layout->channels,
                                              sampleTypeName(layout->type)));
    }
    const std::string sizes = checkVolumeSizes(columns, rows, frames, channels, type, nullptr);
    if (!sizes.empty())
        return fileMessage(name, sizes);
    const std::size_t bytes = std::size_t(columns) * std::size_t(rows) * std::size_t(frames) *
                              std::size_t(channels) * sampleTypeBytes(type);
    // A multi-frame file is held whole while read: it must fit the memory easily.
    const std::int64_t memory = availableMemory();
    if (frames > 1 && memory >= 0 && bytes > std::size_t(memory / 4))
        return fileMessage(name, "multi-frame DICOM image too large for the memory available");
    if (image.GetBufferLength() != bytes)
        return fileMessage(name, "unsupported DICOM pixel layout");
    if (!encapsulated) {
        const gdcm::ByteValue* value = image.GetDataElement().GetByteValue();
        if (!value || value->GetLength() < bytes)
            return fileMessage(name,
                               formatString("DICOM pixel data too short: %u bytes of %zu",
                                            value ? unsigned(value->GetLength()) : 0u, bytes));
    }
    decoded->pixels.resize(bytes);
    if (!image.GetBuffer(decoded->pixels.data()))
        return fileMessage(name, "can't decode the DICOM pixel data");
    // Colour planes stored one after the other become interleaved samples.
    if (channels == 3 && image.GetPlanarConfiguration() == 1) {
        std::vector<char> planes(decoded->pixels);
        const std::size_t plane = std::size_t(columns) * std::size_t(rows);
        const std::size_t size = sampleTypeBytes(type);
        for (std::size_t f = 0; f < std::size_t(frames); ++f)
            for (std::size_t i = 0; i < plane; ++i)
                for (std::size_t c = 0; c < 3; ++c)
                    std::memcpy(&decoded->pixels[((f * plane + i) * 3 + c) * size],
                                &planes[((f * 3 + c) * plane + i) * size], size);
    }
    decoded->slope = image.GetSlope();
    decoded->intercept = image.GetIntercept();
    for (int k = 0; k < 3; ++k)
        decoded->spacing[k] = image.GetSpacing(unsigned(k));
    for (int k = 0; k < 6; ++k)
        decoded->cosines[k] = image.GetDirectionCosines(unsigned(k));
    return std::string();
}

bool rescaled(double slope, double intercept) {
    return std::isfinite(slope) && std::isfinite(intercept) && slope != 0 &&
           !(slope == 1 && intercept == 0);
}

std::string orientationWords(const double row[3], const double column[3], const double normal[3]) {
    return "x: " + directionWords(row, lpsPositive, lpsNegative) +
           ", y: " + directionWords(column, lpsPositive, lpsNegative) +
           ", z: " + directionWords(normal, lpsPositive, lpsNegative);
}

// Writes frame `frame` of decoded pixels into samples, rescaled into float32 when asked.
void copyFrame(const Decoded& decoded, const Layout& layout, int frame, SampleType to,
               void* samples) {
    const std::size_t count =
        std::size_t(layout.columns) * std::size_t(layout.rows) * std::size_t(layout.channels);
    const char* from =
        decoded.pixels.data() + std::size_t(frame) * count * sampleTypeBytes(layout.type);
    if (to == layout.type)
        std::memcpy(samples, from, count * sampleTypeBytes(to));
    else
        rescaleSamples(layout.type, from, count,
                       rescaled(decoded.slope, decoded.intercept) ? decoded.slope : 1,
                       rescaled(decoded.slope, decoded.intercept) ? decoded.intercept : 0, to,
                       samples);
}
// Runs body in a child process and reports whether it ended normally. The Debian build of GDCM
// keeps its assertions, which abort the process on some malformed files; the child meets them
// first (and any memory bomb or endless loop), so that the converter refuses such a file
// instead of ending with it.
std::string contained(const QString& path, const std::function<void()>& body) {
    const ContainedResult result = runContained(
        [&](std::vector<unsigned char>*) {
            body();
            return std::string();
        },
        {defaultMemoryLimit(), 300});
    if (result.end == ContainedEnd::Done)
        return std::string();
    if (result.end == ContainedEnd::OutOfMemory)
        return fileMessage(path, "needs more than " + memorySizeText(defaultMemoryLimit()));
    if (result.end == ContainedEnd::TimedOut)
        return fileMessage(path, "the DICOM library took more than 300 s");
    return fileMessage(path, "malformed DICOM data: the DICOM library gave up on it");
}

std::string openSource(const QString& path, int series, TypedSource* source);
} // namespace

std::string listDicomSeries(const QString& path, std::vector<DicomSeriesSummary>* out) {
    std::vector<Series> series;
    std::string failure = contained(path, [&] {
        std::vector<Series> trial;
        scanSeries(path, &trial);
    });
    if (failure.empty())
        failure = scanSeries(path, &series);
    if (!failure.empty())
        return failure;
    for (const Series& entry : series) {
        DicomSeriesSummary summary;
        summary.uid = entry.uid;
        summary.description = entry.description;
        summary.slices = entry.files.size() == 1 ? entry.files[0].frames : int(entry.files.size());
        summary.width = entry.files[0].columns;
        summary.height = entry.files[0].rows;
        out->push_back(summary);
    }
    return std::string();
}

std::string openDicomSource(const QString& path, const InputSelection& selection,
                            TypedSource* source) {
    if (selection.volume > 0)
        return fileMessage(path,
                           formatString("no volume %d: the input holds one", selection.volume));
    const int series = selection.series;
    // A trial run of everything the source will do, in a child process first.
    const std::string failure = contained(path, [&] {
        TypedSource trial;
        if (!openSource(path, series, &trial).empty())
            return;
        const VolumeInfo& info = trial.info;
        std::vector<unsigned char> samples(sliceBytes(info));
        for (int z = 0; z < info.depth; ++z)
            if (!trial.read(z, samples.data()).empty())
                return;
    });
    return failure.empty() ? openSource(path, series, source) : failure;
}

namespace {
std::string openSource(const QString& path, int series, TypedSource* source) {
    std::vector<Series> all;
    std::string failure = scanSeries(path, &all);
    if (!failure.empty())
        return failure;
    if (series < 0 && all.size() > 1)
        return fileMessage(path, formatString("%zu DICOM series; pick one with --series K "
                                              "(0 to %zu; info lists them)",
                                              all.size(), all.size() - 1));
    if (series >= int(all.size()))
        return fileMessage(path,
                           formatString("no DICOM series %d: there are %zu", series, all.size()));
    Series chosen = std::move(all[std::size_t(std::max(series, 0))]);
    const bool multiFrame = chosen.files.size() == 1 && chosen.files[0].frames > 1;
    for (const ScannedFile& file : chosen.files)
        if (file.frames > 1 && !multiFrame)
            return fileMessage(QString::fromStdString(file.path),
                               "multi-frame DICOM file in a series of several files");

    // The first file (in position order) sets what every slice must hold.
    double spacing = 1, normal[3] = {0, 0, 1};
    if (!multiFrame) {
        failure = orderSlices(path, &chosen, &spacing, normal);
        if (!failure.empty())
            return failure;
    }
    auto layout = std::make_shared<Layout>();
    auto first = std::make_shared<Decoded>();
    failure = decodeFile(chosen.files[0].path, layout.get(), true, first.get());
    if (!failure.empty())
        return failure;

    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = multiFrame ? "DICOM multi-frame" : "DICOM series";
    info.width = layout->columns;
    info.height = layout->rows;
    info.depth = multiFrame ? layout->frames : int(chosen.files.size());
    info.channels = layout->channels;
    info.type = layout->type;
    failure =
        checkVolumeSizes(info.width, info.height, info.depth, info.channels, info.type, nullptr);
    if (!failure.empty())
        return fileMessage(path, failure);
    bool scaled = layout->channels == 1 && rescaled(first->slope, first->intercept);
    for (const ScannedFile& file : chosen.files)
        scaled = scaled || (layout->channels == 1 && rescaled(file.slope, file.intercept));
    if (scaled)
        info.type = SampleType::Float32;
    const std::vector<double>& pixelSpacing = chosen.files[0].pixelSpacing;
    info.spacingKnown = pixelSpacing.size() == 2 && pixelSpacing[0] > 0 && pixelSpacing[1] > 0;
    // Pixel Spacing gives the distance between rows (y) first, then between columns (x).
    info.spacing[0] = info.spacingKnown ? pixelSpacing[1] : first->spacing[0];
    info.spacing[1] = info.spacingKnown ? pixelSpacing[0] : first->spacing[1];
    info.spacing[2] = multiFrame ? first->spacing[2] : spacing;
    for (double& distance : info.spacing)
        if (!(distance > 0) || !std::isfinite(distance))
            distance = 1;
    if (multiFrame) {
        const double* c = first->cosines;
        normal[0] = c[1] * c[5] - c[2] * c[4];
        normal[1] = c[2] * c[3] - c[0] * c[5];
        normal[2] = c[0] * c[4] - c[1] * c[3];
    }
    const double* c = first->cosines;
    if (!multiFrame && chosen.files[0].orientation.size() == 6)
        c = chosen.files[0].orientation.data();
    const double row[3] = {c[0], c[1], c[2]}, column[3] = {c[3], c[4], c[5]};
    if (multiFrame || chosen.files.size() > 1)
        info.orientation = orientationWords(row, column, normal);

    const SampleType to = info.type;
    if (multiFrame) {
        // All frames live in the one file: it is decoded once and its frames handed out.
        source->concurrent = false;
        source->read = [first, layout, to](int z, void* samples) {
            copyFrame(*first, *layout, z, to, samples);
            return std::string();
        };
        return std::string();
    }
    // A slice a file: each read decodes its own file, so two may run at once.
    std::vector<std::string> files;
    for (const ScannedFile& file : chosen.files)
        files.push_back(file.path);
    auto cached = std::make_shared<std::pair<std::mutex, std::shared_ptr<Decoded>>>();
    cached->second = first;
    source->concurrent = true;
    source->read = [files, layout, cached, to](int z, void* samples) {
        std::shared_ptr<Decoded> decoded;
        {
            // The first file, decoded while opening, is used once instead of read again.
            std::lock_guard<std::mutex> lock(cached->first);
            if (z == 0)
                decoded = std::move(cached->second);
        }
        if (!decoded) {
            decoded = std::make_shared<Decoded>();
            Layout expected = *layout;
            const std::string failure =
                decodeFile(files[std::size_t(z)], &expected, false, decoded.get());
            if (!failure.empty())
                return failure;
        }
        copyFrame(*decoded, *layout, 0, to, samples);
        return std::string();
    };
    return std::string();
}
} // namespace
