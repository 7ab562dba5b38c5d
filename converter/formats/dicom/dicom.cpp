#include "dicom/dicom.h"

#include "contained.h"
#include "resultbytes.h"
#include "dicom/dicomelements.h"
#include "keptslices.h"
#include "dicom/dicompixels.h"
#include "files.h"
#include "inputfile.h"
#include "text.h"
#include "messages.h"
#include "storedsamples.h"
#include "systemmemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdcmScanner.h>
#include <gdcmTrace.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <sstream>

namespace {
const gdcm::Tag syntaxTag(0x0002, 0x0010);
const gdcm::Tag seriesUidTag(0x0020, 0x000e);
const gdcm::Tag descriptionTag(0x0008, 0x103e);
const gdcm::Tag imageTypeTag(0x0008, 0x0008);
const gdcm::Tag instanceTag(0x0020, 0x0013);
const gdcm::Tag positionTag(0x0020, 0x0032);
const gdcm::Tag orientationTag(0x0020, 0x0037);
const gdcm::Tag rowsTag(0x0028, 0x0010);
const gdcm::Tag columnsTag(0x0028, 0x0011);
const gdcm::Tag framesTag(0x0028, 0x0008);
const gdcm::Tag pixelSpacingTag(0x0028, 0x0030);
const gdcm::Tag thicknessTag(0x0018, 0x0050);
const gdcm::Tag interceptTag(0x0028, 0x1052);
const gdcm::Tag slopeTag(0x0028, 0x1053);

// Positions closer than this (in millimetres) are the same position.
const double positionTolerance = 1e-3;
// How far a folder is searched for images: CD and DVD layouts nest patient, study and series.
const int maxFolderDepth = 8;
const std::size_t maxFolderFiles = 100000;

// GDCM reports its doubts on standard error; a refusal here is one line of its own.
void silenceGdcm() {
    gdcm::Trace::SetDebug(false);
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
}

std::string trimmed(const char* value) {
    std::string text = value ? value : "";
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

int integerValue(const char* value) {
    const std::vector<double> values = dicomNumbers(value);
    return values.size() == 1 && values[0] >= 0 && values[0] <= 2147483647.0 ? int(values[0]) : -1;
}

struct ScannedFile {
    std::string path;
    std::string syntax; // Transfer Syntax UID
    int rows = 0, columns = 0, frames = 1;
    int instance = 0;
    bool mosaic = false;
    std::vector<double> position, orientation, pixelSpacing;
    double thickness = 0;
    double slope = 1, intercept = 0;
    double distance = 0; // along the series' slice normal
    // Where the contained child left the file's decoded samples in the handed-back file
    // (HandedBack), and how many bytes; 0 bytes where it did not.
    std::uint64_t handedAt = 0, handedBytes = 0;
};

struct Series {
    std::string uid, description;
    std::vector<ScannedFile> files;
};

// A damaged file of a folder, left out of the series beside it, and why. A folder whose every
// image is damaged is refused naming the first; past maxLeftOut damaged files, at the next.
struct LeftOut {
    std::string path, reason;
};
const std::size_t maxLeftOut = 16;

// What the contained child's scan hands back of each, declared once (resultbytes.h).
template <typename Io> bool fieldsOf(Io& io, ScannedFile& file) {
    return io.field(file.path) && io.field(file.syntax) && io.field(file.rows) &&
           io.field(file.columns) && io.field(file.frames) && io.field(file.instance) &&
           io.field(file.mosaic) && io.field(file.position) && io.field(file.orientation) &&
           io.field(file.pixelSpacing) && io.field(file.thickness) && io.field(file.slope) &&
           io.field(file.intercept) && io.field(file.handedAt) && io.field(file.handedBytes);
}
template <typename Io> bool fieldsOf(Io& io, Series& series) {
    return io.field(series.uid) && io.field(series.description) && io.field(series.files);
}
template <typename Io> bool fieldsOf(Io& io, LeftOut& file) {
    return io.field(file.path) && io.field(file.reason);
}

// The decoded samples of compressed files, handed back by the contained child that decoded them
// to check them, so that the converter reads them rather than decoding every file again: an
// unlinked temporary file, the child's to write while it runs, then the converter's to read.
class HandedBack {
public:
    explicit HandedBack(int fd, std::uint64_t budget) : fd(fd), budget(budget) {}
    ~HandedBack() { ::close(fd); }
    HandedBack(const HandedBack&) = delete;
    HandedBack& operator=(const HandedBack&) = delete;

    // Null where no file can be made in the temporary folder. The samples may take half the
    // space it has free.
    static std::shared_ptr<HandedBack> make() {
        const QByteArray folder = QFile::encodeName(QDir::tempPath());
        struct statvfs space;
        if (statvfs(folder.constData(), &space) != 0)
            return nullptr;
        const int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        return fd < 0 ? nullptr
                      : std::make_shared<HandedBack>(fd, std::uint64_t(space.f_bavail) *
                                                             space.f_frsize / 2);
    }

    // In the child: appends the samples; false where they do not fit or cannot be written.
    bool append(const std::vector<char>& samples, std::uint64_t* at) {
        if (samples.size() > budget - used)
            return false;
        if (!writeExactly(fd, used, samples.size(), samples.data()))
            return false;
        *at = used;
        used += samples.size();
        return true;
    }

    // The bytes a file's samples were handed back in, where they were and are all there.
    bool read(const ScannedFile& file, std::size_t bytes, void* out) const {
        return file.handedBytes == bytes && readExactly(fd, file.handedAt, bytes, out);
    }

private:
    int fd;
    std::uint64_t budget, used = 0;
};

// Where the contained child is: the file it works on, so that a file the library cannot survive
// is named. Shared memory, as the child's last word may be a crash.
struct CurrentFile {
    char path[4096];
    bool scanned; // the scan is done: a file the child meets after it belongs to the series read
};

CurrentFile* currentFile() {
    static CurrentFile* shared = [] {
        void* memory = mmap(nullptr, sizeof(CurrentFile), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        return memory == MAP_FAILED ? nullptr : static_cast<CurrentFile*>(memory);
    }();
    return shared;
}

// Set in the contained child only: the converter's own reads, two threads at once, mark nothing.
bool marking = false;

void markFile(const std::string& path) {
    if (!marking)
        return;
    if (CurrentFile* current = currentFile()) {
        const std::size_t size = std::min(path.size(), sizeof current->path - 1);
        std::memcpy(current->path, path.data(), size);
        current->path[size] = '\0';
    }
}

// decodeDicomFile, with the file marked as the one being worked on.
std::string decodeMarked(const std::string& file, DicomLayout* layout, bool fill,
                         DicomPixels* decoded) {
    markFile(file);
    return decodeDicomFile(file, layout, fill, decoded);
}

// The regular files under folder (down to maxFolderDepth), named as the user named the folder.
// A link is followed only while it stays in the folder; one that leads out is refused.
std::string listFolder(const QString& folder, const QString& root, int depth,
                       std::vector<std::string>* names) {
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    // Only a link needs resolving, a system call a step of its path; anything else lies in the
    // folder's own place.
    const QString canonicalFolder = QDir(folder).canonicalPath();
    for (const QFileInfo& entry : entries) {
        const QString name = QDir(folder).filePath(entry.fileName());
        const QString target = entry.isSymLink() || canonicalFolder.isEmpty()
                                   ? entry.canonicalFilePath()
                                   : canonicalFolder + '/' + entry.fileName();
        if (target.isEmpty())
            continue; // a dangling link
        if (!target.startsWith(root + '/'))
            return otherFileMessage(name, "a link that leads out of the folder");
        if (entry.isDir()) {
            if (entry.isSymLink())
                continue; // its files are reached through the folder itself
            if (depth >= maxFolderDepth)
                return otherFileMessage(
                    name, formatString("folders nested more than %d deep", maxFolderDepth));
            const std::string failure = listFolder(name, root, depth + 1, names);
            if (!failure.empty())
                return failure;
            continue;
        }
        // A CD's index of its files holds no image.
        if (entry.fileName().compare("DICOMDIR", Qt::CaseInsensitive) == 0)
            continue;
        struct stat status;
        const QByteArray bytes = QFile::encodeName(name);
        // Only regular files: the scanner opens files with a blocking open.
        if (stat(bytes.constData(), &status) == 0 && S_ISREG(status.st_mode))
            names->push_back(bytes.toStdString());
        if (names->size() > maxFolderFiles)
            return otherFileMessage(folder, formatString("more than %zu files", maxFolderFiles));
    }
    return std::string();
}

// The files to scan: path itself, or the regular files of the folder and its subfolders.
std::string inputFiles(const QString& path, std::vector<std::string>* names) {
    const QFileInfo info(path);
    if (info.isDir())
        return listFolder(path, info.canonicalFilePath(), 0, names);
    struct stat status;
    const QByteArray name = QFile::encodeName(path);
    if (stat(name.constData(), &status) != 0)
        return cantOpenReason(path);
    if (!S_ISREG(status.st_mode))
        return std::string(inputMessages::cantOpen) + ": not a regular file or folder";
    names->push_back(name.toStdString());
    return std::string();
}

// The fields of one file that order a series; false when it is no image.
bool scanFile(const std::string& name, ScannedFile* file, std::string* uid,
              std::string* description) {
    markFile(name);
    gdcm::Scanner scanner;
    for (const gdcm::Tag& tag : {syntaxTag, seriesUidTag, descriptionTag, imageTypeTag, instanceTag,
                                 positionTag, orientationTag, rowsTag, columnsTag, framesTag,
                                 pixelSpacingTag, thicknessTag, interceptTag, slopeTag})
        scanner.AddTag(tag);
    try {
        if (!scanner.Scan({name}) || !scanner.IsKey(name.c_str()))
            return false;
    } catch (...) {
        return false;
    }
    auto value = [&](const gdcm::Tag& tag) { return scanner.GetValue(name.c_str(), tag); };
    file->path = name;
    file->syntax = trimmed(value(syntaxTag));
    file->rows = integerValue(value(rowsTag));
    file->columns = integerValue(value(columnsTag));
    if (file->rows <= 0 || file->columns <= 0)
        return false; // not an image (a DICOMDIR, a report)
    file->frames = value(framesTag) ? integerValue(value(framesTag)) : 1;
    file->instance = std::max(0, integerValue(value(instanceTag)));
    file->mosaic = trimmed(value(imageTypeTag)).find("MOSAIC") != std::string::npos;
    file->position = dicomNumbers(value(positionTag));
    file->orientation = dicomNumbers(value(orientationTag));
    file->pixelSpacing = dicomNumbers(value(pixelSpacingTag));
    const std::vector<double> thickness = dicomNumbers(value(thicknessTag));
    file->thickness = thickness.size() == 1 && thickness[0] > 0 ? thickness[0] : 0;
    const std::vector<double> slope = dicomNumbers(value(slopeTag));
    const std::vector<double> intercept = dicomNumbers(value(interceptTag));
    file->slope = slope.size() == 1 ? slope[0] : 1;
    file->intercept = intercept.size() == 1 ? intercept[0] : 0;
    *uid = trimmed(value(seriesUidTag));
    *description = trimmed(value(descriptionTag));
    return true;
}

// scanFile, after the file's lengths are checked; *damaged says why a file that may be an image
// is damaged, or is "".
bool scanOrRefuse(const std::string& name, ScannedFile* file, std::string* uid,
                  std::string* description, std::string* damaged) {
    *damaged = dicomLengthFault(name);
    if (!damaged->empty())
        return true;
    if (!scanFile(name, file, uid, description))
        return false;
    if (file->frames <= 0)
        *damaged = "bad DICOM Number of Frames";
    return true;
}

// The DICOM image files under path (the file itself, or a folder and its subfolders), grouped
// by series in UID order.
// Of a folder, the files in leftOut (those the parent found the library cannot survive) are
// passed over, and any other damaged one joins them; one file is refused.
std::string scanSeries(const QString& path, std::vector<Series>* out,
                       std::vector<LeftOut>* leftOut) {
    silenceGdcm();
    std::vector<std::string> names;
    std::string failure = inputFiles(path, &names);
    if (!failure.empty())
        return failure;
    const bool folder = QFileInfo(path).isDir();
    std::set<std::string> passedOver;
    for (const LeftOut& file : *leftOut)
        passedOver.insert(file.path);
    std::map<std::string, Series> series;
    for (const std::string& name : names) {
        ScannedFile file;
        std::string uid, description, damaged;
        if (passedOver.count(name) || !scanOrRefuse(name, &file, &uid, &description, &damaged))
            continue;
        if (!damaged.empty() && (!folder || leftOut->size() >= maxLeftOut))
            return otherFileMessage(QString::fromStdString(name), damaged);
        if (!damaged.empty()) {
            leftOut->push_back({name, damaged});
            continue;
        }
        Series& entry = series[uid];
        entry.uid = uid;
        if (entry.description.empty())
            entry.description = description;
        entry.files.push_back(file);
    }
    if (series.empty() && !leftOut->empty())
        return otherFileMessage(QString::fromStdString(leftOut->front().path),
                                leftOut->front().reason);
    if (series.empty())
        return folder ? "no slice pictures or DICOM images in this folder"
                      : "not a DICOM image file";
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

// Each file's distance along the normal of the first one's orientation; "" or the message.
std::string placeSlices(Series* series, double normal[3]) {
    std::vector<ScannedFile>& files = series->files;
    const std::vector<double>& first = files[0].orientation;
    if (first.size() != 6)
        return "DICOM series without Image Orientation: its slices can't "
               "be ordered";
    normal[0] = first[1] * first[5] - first[2] * first[4];
    normal[1] = first[2] * first[3] - first[0] * first[5];
    normal[2] = first[0] * first[4] - first[1] * first[3];
    for (ScannedFile& file : files) {
        if (file.position.size() != 3 || file.orientation.size() != 6)
            return otherFileMessage(QString::fromStdString(file.path),
                                    "DICOM slice without Image Position or Orientation");
        for (std::size_t k = 0; k < 6; ++k)
            if (std::fabs(file.orientation[k] - first[k]) > 1e-4)
                return "DICOM series with slices of different orientations";
        if (file.rows != files[0].rows || file.columns != files[0].columns)
            return otherFileMessage(QString::fromStdString(file.path),
                                    formatString("DICOM slice of %d x %d in a series of %d x %d",
                                                 file.columns, file.rows, files[0].columns,
                                                 files[0].rows));
        file.distance = normal[0] * file.position[0] + normal[1] * file.position[1] +
                        normal[2] * file.position[2];
    }
    return std::string();
}

// How many volumes a series sorted by position holds: the files at each position, when every
// position has as many (time points, echoes, diffusion directions); 0 when they differ.
int countVolumes(const std::vector<ScannedFile>& files) {
    std::vector<int> counts(1, 1);
    for (std::size_t i = 1; i < files.size(); ++i) {
        if (files[i].distance - files[i - 1].distance < positionTolerance)
            ++counts.back();
        else
            counts.push_back(1);
    }
    for (int count : counts)
        if (count != counts[0])
            return 0;
    return counts[0];
}

// Sorts slices placed along the normal, keeps those of the selected volume and checks that
// they are evenly spaced; fills the spacing between slices and the count of volumes.
std::string arrangeSlices(int volume, std::vector<ScannedFile>* slices, double* spacing,
                          int* volumes) {
    std::vector<ScannedFile>& files = *slices;
    // At one position, volumes follow in instance order.
    std::stable_sort(files.begin(), files.end(), [](const ScannedFile& a, const ScannedFile& b) {
        if (std::fabs(a.distance - b.distance) >= positionTolerance)
            return a.distance < b.distance;
        return a.instance < b.instance;
    });
    *volumes = countVolumes(files);
    if (*volumes == 0)
        return "DICOM series with repeated slice positions: " + positionList(files);
    if (*volumes > 1 && volume < 0)
        return formatString("%d DICOM volumes at the same slice positions (time "
                            "points, echoes or directions); pick one with "
                            "--volume T (0 to %d; info lists them)",
                            *volumes, *volumes - 1);
    if (volume >= *volumes)
        return formatString("no volume %d: there %s %d", volume, *volumes == 1 ? "is" : "are",
                            *volumes);
    std::vector<ScannedFile> chosen;
    for (std::size_t i = std::size_t(std::max(volume, 0)); i < files.size(); i += *volumes)
        chosen.push_back(files[i]);
    files = std::move(chosen);
    if (files.size() < 2)
        return std::string();
    const double mean = (files.back().distance - files.front().distance) / double(files.size() - 1);
    for (std::size_t i = 1; i < files.size(); ++i)
        if (std::fabs(files[i].distance - files[i - 1].distance - mean) >
            positionTolerance + 0.01 * mean)
            return "DICOM series with uneven slice positions: " + positionList(files);
    *spacing = mean;
    return std::string();
}

// Places a series' files along the slice normal and arranges them; fills the normal too.
std::string orderSlices(int volume, Series* series, double* spacing, double normal[3],
                        int* volumes) {
    const std::string failure = placeSlices(series, normal);
    return failure.empty() ? arrangeSlices(volume, &series->files, spacing, volumes) : failure;
}

// The frames of a multi-frame file that places each (per-frame functional groups), as slices
// in position order: those of the selected volume, evenly spaced. Frames in file order when the
// file does not place them.
std::string orderFrames(int volume, const DicomPixels& decoded, int frames, std::vector<int>* order,
                        double* spacing) {
    const std::vector<double>& positions = decoded.framePositions;
    if (positions.size() != std::size_t(frames) * 3 || !decoded.orientationGiven) {
        if (volume > 0)
            return formatString("no volume %d: there is 1", volume);
        for (int f = 0; f < frames; ++f)
            order->push_back(f);
        return std::string();
    }
    const double* c = decoded.cosines;
    const double normal[3] = {c[1] * c[5] - c[2] * c[4], c[2] * c[3] - c[0] * c[5],
                              c[0] * c[4] - c[1] * c[3]};
    std::vector<ScannedFile> slices(static_cast<std::size_t>(frames));
    for (std::size_t f = 0; f < slices.size(); ++f) {
        const double* p = &positions[3 * f];
        slices[f].instance = int(f);
        slices[f].distance = normal[0] * p[0] + normal[1] * p[1] + normal[2] * p[2];
    }
    int volumes = 1;
    const std::string failure = arrangeSlices(volume, &slices, spacing, &volumes);
    for (const ScannedFile& slice : slices)
        order->push_back(slice.instance);
    return failure;
}

bool rescaled(double slope, double intercept) {
    return std::isfinite(slope) && std::isfinite(intercept) && slope != 0 &&
           !(slope == 1 && intercept == 0);
}

// Writes frame `frame` of decoded pixels into samples of type `to`, through the file's own
// rescale where to is float32.
void copyFrame(DicomPixels& decoded, const DicomLayout& layout, int frame, SampleType to,
               void* samples) {
    const std::size_t count =
        std::size_t(layout.columns) * std::size_t(layout.rows) * std::size_t(layout.channels);
    StoredSamples stored;
    stored.type = layout.type;
    stored.slope = decoded.slope;
    stored.intercept = decoded.intercept;
    stored.convert(decoded.pixels.data() +
                       std::size_t(frame) * count * sampleTypeBytes(layout.type),
                   count, to, samples);
}

// Runs work in a child process: "" with what it wrote in *bytes, its own refusal, or how it
// ended. The Debian build of GDCM
// keeps its assertions, which abort the process on some malformed files; the child meets them
// first (and any memory bomb or endless loop), so that the converter refuses such a file
// instead of ending with it. The refusal names the file the child was working on.
std::string contained(const QString& path, const ContainedWork& work,
                      std::vector<unsigned char>* bytes, LeftOut* endedOn = nullptr) {
    CurrentFile* current = currentFile();
    if (current) {
        std::snprintf(current->path, sizeof current->path, "%s",
                      QFile::encodeName(path).constData());
        current->scanned = false;
    }
    ContainedResult result = runContained(
        [&](std::vector<unsigned char>* out) {
            marking = true;
            return work(out);
        },
        {defaultMemoryLimit(), 300});
    if (result.end == ContainedEnd::Done) {
        *bytes = std::move(result.bytes);
        return std::string();
    }
    if (result.end == ContainedEnd::Refused)
        return result.message;
    const QString file = current ? QFile::decodeName(current->path) : path;
    const std::string reason =
        result.end == ContainedEnd::OutOfMemory
            ? "needs more than " + memorySizeText(defaultMemoryLimit())
        : result.end == ContainedEnd::TimedOut
            ? std::string("the DICOM library took more than 300 s")
            : std::string("malformed DICOM data: the DICOM library gave up on it");
    if (endedOn && current && !current->scanned && file != path)
        *endedOn = {QFile::encodeName(file).toStdString(), reason};
    return otherFileMessage(file, reason);
}

void writeScan(const std::vector<Series>& all, const std::vector<LeftOut>& leftOut,
               std::vector<unsigned char>* bytes) {
    ResultWriter out{bytes};
    out.field(leftOut);
    out.field(all);
}

// Every series has files, and every file an image's sizes.
bool scanHolds(const std::vector<Series>& all) {
    for (const Series& series : all) {
        if (series.files.empty())
            return false;
        for (const ScannedFile& file : series.files)
            if (file.rows <= 0 || file.columns <= 0 || file.frames <= 0)
                return false;
    }
    return !all.empty();
}

bool readScan(const std::vector<unsigned char>& bytes, std::vector<Series>* all,
              std::vector<LeftOut>* leftOut) {
    ResultReader in{bytes};
    return in.field(*leftOut) && leftOut->size() <= maxLeftOut && in.field(*all) &&
           scanHolds(*all) && in.atEnd();
}

void trialDecodes(std::vector<Series>* all, const InputSelection& selection, HandedBack* handed);

// Scans the files in a contained child, which hands its scan back, so that the converter parses
// no header the child has not survived. With a selection, the child also decodes what
// trialDecodes tries, handing back the samples of compressed files in *handed where given.
// A file of a folder that the library cannot survive while the child scans is left out, and the
// scan made again without it.
std::string scanContained(const QString& path, const InputSelection* selection,
                          std::vector<Series>* all, std::vector<LeftOut>* leftOut,
                          HandedBack* handed = nullptr) {
    std::vector<unsigned char> bytes;
    std::vector<LeftOut> endedOn;
    for (;;) {
        LeftOut ended;
        const std::string failure = contained(
            path,
            [&](std::vector<unsigned char>* out) {
                std::vector<Series> scanned;
                std::vector<LeftOut> passedOver = endedOn;
                std::string failure = scanSeries(path, &scanned, &passedOver);
                if (!failure.empty())
                    return failure;
                if (CurrentFile* current = currentFile())
                    current->scanned = true;
                if (selection)
                    trialDecodes(&scanned, *selection, handed);
                writeScan(scanned, passedOver, out);
                return std::string();
            },
            &bytes, &ended);
        if (failure.empty())
            break;
        if (ended.path.empty() || endedOn.size() >= maxLeftOut)
            return failure;
        endedOn.push_back(ended);
    }
    return readScan(bytes, all, leftOut)
               ? std::string()
               : "malformed DICOM data: the scan of its files came back damaged";
}

std::string openSource(std::vector<Series> all, const InputSelection& selection,
                       std::shared_ptr<HandedBack> handed, TypedSource* source);

// The files left out, in words: "2 damaged files left out: a (reason), b (reason)", or "".
std::string leftOutWords(const std::vector<LeftOut>& leftOut) {
    if (leftOut.empty())
        return std::string();
    std::string words = formatString("%zu damaged file%s left out: ", leftOut.size(),
                                     leftOut.size() == 1 ? "" : "s");
    for (std::size_t k = 0; k < leftOut.size(); ++k)
        words += (k ? ", " : "") + printableText(leftOut[k].path) + " (" + leftOut[k].reason + ")";
    return words;
}
} // namespace

std::string listDicomSeries(const QString& path, std::vector<DicomSeriesSummary>* out,
                            std::string* leftOut) {
    std::vector<Series> series;
    std::vector<LeftOut> damaged;
    const std::string failure = scanContained(path, nullptr, &series, &damaged);
    if (!failure.empty())
        return inputMessage(path, failure);
    if (leftOut)
        *leftOut = leftOutWords(damaged);
    for (Series& entry : series) {
        DicomSeriesSummary summary;
        summary.uid = entry.uid;
        summary.description = entry.description;
        summary.slices = entry.files.size() == 1 ? entry.files[0].frames : int(entry.files.size());
        summary.width = entry.files[0].columns;
        summary.height = entry.files[0].rows;
        double spacing = 1, normal[3];
        if (entry.files.size() > 1 &&
            orderSlices(0, &entry, &spacing, normal, &summary.volumes).empty())
            summary.slices /= std::max(1, summary.volumes);
        out->push_back(summary);
    }
    return std::string();
}

// A DICOM input of several series, or of several volumes, cannot be read until one is picked:
// the list to pick from, numbered as --series and --volume count.
void printDicomSeries(const QString& path) {
    std::vector<DicomSeriesSummary> series;
    std::string leftOut;
    if (!listDicomSeries(path, &series, &leftOut).empty())
        return;
    const bool volumes = std::any_of(series.begin(), series.end(),
                                     [](const DicomSeriesSummary& s) { return s.volumes > 1; });
    if (series.size() < 2 && !volumes)
        return;
    const char* pick = series.size() < 2 ? "pick a volume with --volume T"
                       : volumes         ? "pick one with --series K, and a volume with --volume T"
                                         : "pick one with --series K";
    std::printf("%s\n  format           DICOM, %zu series (%s)\n", qPrintable(path), series.size(),
                pick);
    for (std::size_t k = 0; k < series.size(); ++k) {
        const std::string count =
            series[k].volumes > 1 ? formatString(", %d volumes", series[k].volumes) : "";
        std::printf("  series %-9zu %d x %d x %d%s  %s  %s\n", k, series[k].width, series[k].height,
                    series[k].slices, count.c_str(), printableText(series[k].uid).c_str(),
                    printableText(series[k].description).c_str());
    }
    if (!leftOut.empty())
        std::printf("  note             %s\n", leftOut.c_str());
}

std::string openDicomSource(const QString& path, const InputSelection& selection,
                            TypedSource* source) {
    std::vector<Series> all;
    std::vector<LeftOut> leftOut;
    const std::shared_ptr<HandedBack> handed = HandedBack::make();
    std::string failure = scanContained(path, &selection, &all, &leftOut, handed.get());
    if (failure.empty())
        failure = openSource(std::move(all), selection, handed, source);
    source->info.note = leftOutWords(leftOut);
    return failure;
}

namespace {
// The series selected, with its files in slice order (one file: its frames are the slices).
std::string chooseSeries(std::vector<Series> all, const InputSelection& selection, Series* chosen,
                         double* spacing, double normal[3]) {
    const int series = selection.series;
    if (series < 0 && all.size() > 1)
        return formatString("%zu DICOM series; pick one with --series K "
                            "(0 to %zu; info lists them)",
                            all.size(), all.size() - 1);
    if (series >= int(all.size()))
        return formatString("no DICOM series %d: there are %zu", series, all.size());
    *chosen = std::move(all[std::size_t(std::max(series, 0))]);
    for (const ScannedFile& file : chosen->files) {
        const QString name = QString::fromStdString(file.path);
        // Slices tiled in one picture would pack as one slice.
        if (file.mosaic)
            return otherFileMessage(name, "Siemens mosaic (slices tiled in one picture): "
                                          "unsupported, convert it to a series of slices first");
        if (file.frames > 1 && chosen->files.size() > 1)
            return otherFileMessage(name, "multi-frame DICOM file in a series of several files");
    }
    if (chosen->files.size() == 1) {
        // A multi-frame file's volumes are known once its frames are placed.
        if (selection.volume > 0 && chosen->files[0].frames == 1)
            return formatString("no volume %d: there is 1", selection.volume);
        return std::string();
    }
    int volumes = 1;
    return orderSlices(selection.volume, chosen, spacing, normal, &volumes);
}

// The spacing along each axis, and which of them the file gives: sliceSpacing is the distance
// between the slices' positions, when positioned.
void setSpacing(const Series& chosen, const DicomPixels& first, bool positioned,
                double sliceSpacing, VolumeInfo* info) {
    const ScannedFile& file = chosen.files[0];
    const std::vector<double>& pixel = file.pixelSpacing;
    const bool planeKnown = pixel.size() == 2 || first.spacingGiven[0];
    // Pixel Spacing gives the distance between rows (y) first, then between columns (x).
    info->spacing[0] = pixel.size() == 2 ? pixel[1] : first.spacing[0];
    info->spacing[1] = pixel.size() == 2 ? pixel[0] : first.spacing[1];
    info->spacing[2] = positioned ? sliceSpacing : first.spacing[2];
    info->axisSpacingKnown[0] = info->axisSpacingKnown[1] = planeKnown;
    info->axisSpacingKnown[2] = positioned || (file.frames > 1 && first.spacingGiven[2]);
    for (int k = 0; k < 3; ++k)
        if (!(info->spacing[k] > 0) || !std::isfinite(info->spacing[k])) {
            info->spacing[k] = 1;
            info->axisSpacingKnown[k] = false;
        }
    info->spacingKnown =
        info->axisSpacingKnown[0] && info->axisSpacingKnown[1] && info->axisSpacingKnown[2];
    if (!info->axisSpacingKnown[2] && file.thickness > 0)
        info->spacingNote = formatString("slice thickness %g", file.thickness);
}

// Where the axes point, when the file gives its orientation: rows and columns as Image
// Orientation (Patient) says, slices along its normal, the order they are sorted in. DICOM's
// patient frame is LPS+; the volume's directions are RAS+.
void setOrientation(const Series& chosen, const DicomPixels& first, VolumeInfo* info) {
    const std::vector<double>& given = chosen.files[0].orientation;
    if (given.size() != 6 && !first.orientationGiven)
        return;
    const double* c = given.size() == 6 ? given.data() : first.cosines;
    const double normal[3] = {c[1] * c[5] - c[2] * c[4], c[2] * c[3] - c[0] * c[5],
                              c[0] * c[4] - c[1] * c[3]};
    const double* lps[3] = {c, c + 3, normal};
    info->axes.frame = AxisFrame::World;
    for (int i = 0; i < 3; ++i)
        for (int a = 0; a < 3; ++a)
            info->axes.axis[i][a] = a < 2 ? -lps[i][a] : lps[i][a];
    info->axes.from = "Image Orientation (Patient)";
}

// Whether a transfer syntax stores pixels as they are (no codec decodes them).
bool nativeSyntax(const std::string& uid) {
    return uid == "1.2.840.10008.1.2" || uid == "1.2.840.10008.1.2.1" ||
           uid == "1.2.840.10008.1.2.2";
}

// Whether a transfer syntax is RLE, whose frames our own decoder reads (dicomrle.h) at about the
// speed of a copy, meeting no library's codec.
bool rleSyntax(const std::string& uid) {
    return uid == "1.2.840.10008.1.2.5";
}

// Whether a file's pixels are decoded again as cheaply as they would be read back from a file:
// stored as they are, or RLE.
bool cheapSyntax(const std::string& uid) {
    return nativeSyntax(uid) || rleSyntax(uid);
}

// What the contained child tries before the converter reads a series itself: every header
// (the scan), every file's pixels that a library's codec decodes (each its own codestream for
// the codec to meet), and of the files stored as they are or in RLE, one of each transfer
// syntax and size, since those decode alike. The samples of single-frame files that a codec
// decoded go into handed, where given, and the scan says where (ScannedFile::handedAt), so that
// they are decoded once a pack.
void trialDecodes(std::vector<Series>* all, const InputSelection& selection, HandedBack* handed) {
    Series chosen;
    double spacing = 1, normal[3];
    if (!chooseSeries(*all, selection, &chosen, &spacing, normal).empty())
        return;
    std::set<std::string> kinds;
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> places;
    DicomLayout layout;
    for (const ScannedFile& file : chosen.files) {
        const std::string kind =
            formatString("%s %d %d %d", file.syntax.c_str(), file.rows, file.columns, file.frames);
        if (!kinds.insert(kind).second && cheapSyntax(file.syntax))
            continue;
        // Every file checked against the first's layout, as the converter's own read does.
        DicomPixels pixels;
        if (!decodeMarked(file.path, &layout, &file == &chosen.files[0], &pixels).empty())
            break;
        std::uint64_t at = 0;
        if (handed && !cheapSyntax(file.syntax) && file.frames == 1 &&
            handed->append(pixels.pixels, &at))
            places[file.path] = {at, pixels.pixels.size()};
    }
    for (Series& series : *all)
        for (ScannedFile& file : series.files) {
            const auto place = places.find(file.path);
            if (place != places.end())
                std::tie(file.handedAt, file.handedBytes) = place->second;
        }
}

// Fills info from the first file (in position order) and the series: sizes, type, spacing and
// orientation; frames are the multi-frame file's slices in order.
std::string describe(const Series& chosen, const DicomLayout& layout, const DicomPixels& first,
                     const std::vector<int>& frames, double spacing, VolumeInfo* info) {
    const bool multiFrame = chosen.files.size() == 1 && chosen.files[0].frames > 1;
    *info = VolumeInfo();
    info->format = multiFrame                ? "DICOM multi-frame"
                   : chosen.files.size() > 1 ? "DICOM series"
                                             : "DICOM file";
    info->width = layout.columns;
    info->height = layout.rows;
    info->depth = multiFrame ? int(frames.size()) : int(chosen.files.size());
    info->channels = layout.channels;
    info->type = layout.type;
    const std::string failure = checkVolumeSizes(*info);
    if (!failure.empty())
        return failure;
    bool scaled = layout.channels == 1 && rescaled(first.slope, first.intercept);
    for (const ScannedFile& file : chosen.files)
        scaled = scaled || (layout.channels == 1 && rescaled(file.slope, file.intercept));
    if (scaled)
        info->type = SampleType::Float32;
    const bool positioned =
        multiFrame ? first.framePositions.size() > 3 && frames.size() > 1 : chosen.files.size() > 1;
    setSpacing(chosen, first, positioned, spacing, info);
    setOrientation(chosen, first, info);
    return std::string();
}

// Whether every file of the series gives the same Rescale Slope and Intercept, so that one
// stored layout converts every slice.
bool oneRescale(const Series& chosen) {
    for (const ScannedFile& file : chosen.files)
        if (file.slope != chosen.files[0].slope || file.intercept != chosen.files[0].intercept)
            return false;
    return true;
}

// The reads of a multi-frame file: it is decoded once and its frames handed out.
void readFrames(std::shared_ptr<DicomPixels> first, std::shared_ptr<DicomLayout> layout,
                std::shared_ptr<std::vector<int>> frames, TypedSource* source) {
    source->concurrent = false;
    StoredSamples stored;
    stored.type = layout->type;
    stored.slope = first->slope;
    stored.intercept = first->intercept;
    const std::size_t bytes = std::size_t(layout->columns) * std::size_t(layout->rows) *
                              std::size_t(layout->channels) * sampleTypeBytes(layout->type);
    readThrough(
        stored,
        [first, frames, bytes](int z, void* samples) {
            const std::size_t frame = std::size_t((*frames)[std::size_t(z)]);
            std::memcpy(samples, first->pixels.data() + frame * bytes, bytes);
            return std::string();
        },
        source);
}

// Whether a pass keeps the slices it read for the next. A file a codec decodes is decoded again
// at a cost, unless the contained child handed its samples back (handed); an RLE file costs
// little more than its read. One stored as it is is read again from where its samples lie, once
// its first read has found them there as GDCM decoded them (storedBytesMatch); otherwise (byte
// order, masked bits) GDCM parses it again, which costs more than reading its slice back, as
// long as the kept slices stay in the page cache.
bool keepSlices(const Series& chosen, const VolumeInfo& info, bool storedAsDecoded, bool handed) {
    bool stored = false; // a file stored as it is, which GDCM may parse again
    for (const ScannedFile& file : chosen.files) {
        if (!cheapSyntax(file.syntax) && !(handed && file.handedBytes))
            return true;
        stored = stored || nativeSyntax(file.syntax);
    }
    if (!stored || storedAsDecoded)
        return false;
    const std::int64_t memory = availableMemory();
    return memory > 0 && keptInPageCache(sliceBytes(info) * std::uint64_t(info.depth), memory);
}

// Reads size bytes of file from at into out; false when the file no longer holds them.
bool readStoredBytes(const std::string& file, std::int64_t at, std::size_t size, void* out) {
    // Without a stream: it is done once a file on each later pass.
    const int fd = openRegularFile(file.c_str());
    const bool read = fd >= 0 && readExactly(fd, std::uint64_t(at), size, out);
    if (fd >= 0)
        ::close(fd);
    return read;
}

// Whether file holds decoded's samples byte for byte where its pixel data starts.
bool storedBytesMatch(const std::string& file, const DicomPixels& decoded) {
    if (decoded.storedAt < 0)
        return false;
    if (decoded.storedMatch >= 0)
        return decoded.storedMatch == 1;
    thread_local std::vector<char> stored;
    stored.resize(decoded.pixels.size());
    return readStoredBytes(file, decoded.storedAt, stored.size(), stored.data()) &&
           std::memcmp(stored.data(), decoded.pixels.data(), stored.size()) == 0;
}

// The reads of a series, a file a slice: each read decodes its own file, so two may run at
// once; each thread decodes into the same buffer file after file. A file whose first read found
// its samples stored as decoded is read from there on later passes, unparsed.
void readSeries(const Series& chosen, const DicomPixels& first, std::shared_ptr<DicomLayout> layout,
                std::shared_ptr<HandedBack> handed, TypedSource* source) {
    std::vector<std::string> files;
    for (const ScannedFile& file : chosen.files)
        files.push_back(file.path);
    source->files = files;
    source->concurrent = true;
    // Files each with a rescale of their own are converted as read, and always decoded.
    const bool firstStored = oneRescale(chosen) && storedBytesMatch(files[0], first);
    source->costlyReads = keepSlices(chosen, source->info, firstStored, handed != nullptr);
    const SampleType to = source->info.type;
    const auto decode = [files, layout](int z, DicomPixels** decoded) {
        thread_local DicomPixels pixels;
        DicomLayout expected = *layout;
        *decoded = &pixels;
        return decodeMarked(files[std::size_t(z)], &expected, false, &pixels);
    };
    if (!oneRescale(chosen)) {
        // Each file converted by its own rescale.
        source->read = [decode, layout, to](int z, void* samples) {
            DicomPixels* decoded = nullptr;
            const std::string failure = decode(z, &decoded);
            if (failure.empty())
                copyFrame(*decoded, *layout, 0, to, samples);
            return failure;
        };
        return;
    }
    StoredSamples stored;
    stored.type = layout->type;
    stored.slope = first.slope;
    stored.intercept = first.intercept;
    // Each file's place of its samples: -1 not yet read, -2 not stored as decoded. Two reads
    // at once are of different files; a pass starts once the last has ended.
    auto places = std::make_shared<std::vector<std::int64_t>>(files.size(), -1);
    if (firstStored)
        (*places)[0] = first.storedAt;
    const std::size_t bytes =
        sliceBytes(source->info) / sampleTypeBytes(to) * sampleTypeBytes(layout->type);
    auto scanned = std::make_shared<const std::vector<ScannedFile>>(chosen.files);
    readThrough(
        stored,
        [decode, places, files, bytes, handed, scanned](int z, void* samples) {
            if (handed && handed->read((*scanned)[std::size_t(z)], bytes, samples))
                return std::string();
            std::int64_t& at = (*places)[std::size_t(z)];
            const std::string& file = files[std::size_t(z)];
            if (at >= 0)
                return readStoredBytes(file, at, bytes, samples)
                           ? std::string()
                           : otherFileMessage(QString::fromStdString(file),
                                              "DICOM file changed while it was read");
            DicomPixels* decoded = nullptr;
            const std::string failure = decode(z, &decoded);
            if (!failure.empty())
                return failure;
            std::memcpy(samples, decoded->pixels.data(), decoded->pixels.size());
            if (at == -1)
                at = storedBytesMatch(file, *decoded) ? decoded->storedAt : -2;
            return std::string();
        },
        source);
}

std::string openSource(std::vector<Series> all, const InputSelection& selection,
                       std::shared_ptr<HandedBack> handed, TypedSource* source) {
    Series chosen;
    double spacing = 1, normal[3] = {0, 0, 1};
    std::string failure = chooseSeries(std::move(all), selection, &chosen, &spacing, normal);
    if (!failure.empty())
        return failure;
    const bool multiFrame = chosen.files.size() == 1 && chosen.files[0].frames > 1;
    // The first file (in position order) sets what every slice must hold.
    auto layout = std::make_shared<DicomLayout>();
    auto first = std::make_shared<DicomPixels>();
    failure = decodeMarked(chosen.files[0].path, layout.get(), true, first.get());
    auto frames = std::make_shared<std::vector<int>>();
    if (failure.empty() && multiFrame)
        failure = orderFrames(selection.volume, *first, layout->frames, frames.get(), &spacing);
    if (failure.empty())
        failure = describe(chosen, *layout, *first, *frames, spacing, &source->info);
    if (!failure.empty())
        return failure;
    if (multiFrame) {
        source->files = {chosen.files[0].path};
        readFrames(first, layout, frames, source);
    } else {
        readSeries(chosen, *first, layout, std::move(handed), source);
    }
    return std::string();
}
} // namespace

InputFormat dicomInputFormat() {
    return {"DICOM",
            "a DICOM series (a folder without slice pictures; slices in position order) or one\n"
            "      multi-frame file (.dcm, or any file that begins as DICOM)",
            {"dcm"},
            [](const std::string& start) { return hasMarkAt(start, 128, "DICM"); },
            [](const QString& path, const InputSelection& selection, TypedSource* source) {
                return openDicomSource(path, selection, source);
            },
            printDicomSeries,
            {},
            "dicom",
            nullptr,
            picksSeries | picksVolume,
            {{"application/dicom", nullptr, {"dcm"}}}};
}
