#include "formattable.h"

#include "inputfile.h"
#include "dicom/dicom.h"
#include "files.h"
#include "fits/fits.h"
#include "hdf5/hdf5volume.h"
#include "hdf5/minc.h"
#include "messages.h"
#include "metaimage.h"
#include "mgh.h"
#include "mrc.h"
#include "nifti.h"
#include "npy.h"
#include "npz.h"
#include "nrrd/nrrd.h"
#include "pictures/pictureslices.h"
#include "raw.h"
#include "rawsamples.h"
#include "storedsamples.h"
#include "tiff.h"
#include "vol.h"
#include "vtk/vtklegacy.h"
#include "vtk/vtkxml.h"
#include "zarr/zarr.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QImageReader>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>
#include <stdexcept>

const std::vector<InputFormat>& inputFormats() {
    // Built on first use from each format's own descriptor, so that no format's statics
    // need be built first; in the order users read them.
    static const std::vector<InputFormat> formats = {
        slicePicturesInputFormat(), tiffInputFormat(),      niftiInputFormat(),
        analyzeInputFormat(),       dicomInputFormat(),     metaImageInputFormat(),
        nrrdInputFormat(),          mrcInputFormat(),       mghInputFormat(),
        fitsInputFormat(),          vtkLegacyInputFormat(), vtiInputFormat(),
        npyInputFormat(),           npzInputFormat(),       zarrInputFormat(),
        hdf5InputFormat(),          mincInputFormat(),      volumeInputFormat(),
        rawVolumeInputFormat(),     rawShapeInputFormat(),
    };
    return formats;
}

std::string inputFormatList() {
    std::string list;
    const std::vector<InputFormat>& formats = inputFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        list += std::string(i == 0                   ? ""
                            : i + 1 < formats.size() ? ", "
                                                     : " and ") +
                formats[i].name;
    return list;
}

namespace {
// The first bytes of a regular file, as many as it has up to firstBytesLength.
std::string firstBytes(const QString& path) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    std::string start(firstBytesLength, '\0');
    start.resize(file ? std::fread(&start[0], 1, start.size(), file.get()) : 0);
    return start;
}

// A reader's work with every exception it throws (memory running out on a machine that
// promised it, say) made a reason, so that none escapes into the converter's threads.
std::string guarded(const std::function<std::string()>& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& error) {
        return std::string("can't read: ") + error.what();
    }
}

std::string throughDoor(const QString& input, const std::function<std::string(TypedSource*)>& open,
                        TypedSource* source) {
    std::string reason = guarded([&] { return open(source); });
    if (reason.empty())
        reason = checkVolumeSizes(source->info);
    if (!reason.empty())
        return inputMessage(input, reason);
    source->read = [read = std::move(source->read), input](int z, void* samples) {
        const std::string reason = guarded([&] { return read(z, samples); });
        return reason.empty() ? reason : inputMessage(input, reason);
    };
    return std::string();
}

// "a, b and c" with last = "and".
std::string joined(const std::vector<std::string>& words, const char* last) {
    std::string text;
    for (std::size_t k = 0; k < words.size(); ++k)
        text += (k == 0                  ? ""
                 : k + 1 == words.size() ? std::string(" ") + last + " "
                                         : ", ") +
                words[k];
    return text;
}

const InputFormat* formatNamed(const char* name) {
    for (const InputFormat& format : inputFormats())
        if (std::string(format.name) == name)
            return &format;
    return nullptr;
}
} // namespace

const InputFormat* inputFormatOf(const QStringList& paths, const InputSelection& selection) {
    const QFileInfo file(paths.value(0));
    if (selection.raw.given)
        return formatNamed("raw samples (--raw)");
    if (paths.size() > 1)
        return formatNamed("slice pictures");
    for (const InputFormat& format : inputFormats())
        if (format.claims && format.claims(paths.value(0)))
            return &format;
    if (file.isDir()) {
        QStringList pictures;
        return formatNamed(listSliceFiles(paths, &pictures).empty() ? "slice pictures" : "DICOM");
    }
    const QString name = file.fileName().toLower();
    for (const InputFormat& format : inputFormats())
        for (const std::string& suffix : format.suffixes)
            if (name.endsWith(QString::fromStdString("." + suffix)))
                return &format;
    // Only a regular file is looked into: a FIFO would block.
    if (!file.isFile())
        return nullptr;
    const std::string start = firstBytes(file.filePath());
    for (const InputFormat& format : inputFormats())
        if (format.marked && format.marked(start))
            return &format;
    return QImageReader::imageFormat(file.filePath()).isEmpty() ? nullptr
                                                                : formatNamed("slice pictures");
}

std::string packReads() {
    std::vector<std::string> names;
    for (const InputFormat& format : inputFormats())
        names.push_back(format.name);
    return "pack reads " + joined(names, "and");
}

namespace {
// The formats only read from a file of their own, never as one slice picture of several: every
// format but pictures and TIFF, whose pages Qt reads as pictures too.
bool volumeOnly(const InputFormat& format) {
    return std::string(format.name) != "slice pictures" &&
           std::string(format.name) != "multi-page TIFF";
}

// Of several inputs, read as slice pictures: the first that is a volume file of another format,
// refused saying so; "" when there is none.
std::string checkSlicePaths(const QStringList& paths) {
    for (const QString& path : paths) {
        const InputFormat* format = inputFormatOf({path});
        if (format && volumeOnly(*format) && QFileInfo::exists(path))
            return fileMessage(path, std::string(format->name) +
                                         " among several inputs, which are read as slice "
                                         "pictures: pack it alone");
    }
    return std::string();
}

// A URL that pack does not read: a scheme other than http(s), s3 and gs (file:// names a local
// path and is read as one), or a URL of a file of another format than OME-Zarr. "" otherwise.
std::string checkUrl(const QString& path) {
    const QUrl url(path, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || scheme.size() < 2 || !path.contains("://"))
        return std::string();
    const std::string reads = "pack reads OME-Zarr stores at http://, https://, s3:// and gs://";
    if (scheme != "http" && scheme != "https" && scheme != "s3" && scheme != "gs")
        return fileMessage(path, "unsupported URL scheme '" + scheme.toStdString() +
                                     "://': " + reads + "; copy the file here first");
    const QString name = url.path().toLower();
    for (const InputFormat& format : inputFormats())
        for (const std::string& suffix : format.suffixes)
            if (volumeOnly(format) || std::string(format.name) == "multi-page TIFF")
                if (name.endsWith(QString::fromStdString("." + suffix)))
                    return fileMessage(path, std::string(format.name) + " at a URL: " + reads +
                                                 " URLs only; download it first");
    return std::string();
}

// netCDF's formats before netCDF-4 (which is HDF5, read as such), or "" for another file.
std::string netcdf3Kind(const std::string& start) {
    if (hasMarkAt(start, 0, std::string("CDF\x01", 4)))
        return "netCDF-3 classic";
    if (hasMarkAt(start, 0, std::string("CDF\x02", 4)))
        return "netCDF-3 64-bit offset";
    if (hasMarkAt(start, 0, std::string("CDF\x05", 4)))
        return "netCDF CDF-5";
    return std::string();
}
} // namespace

// An option that picks a part of an input whose format has no such parts: the message, naming
// the formats it applies to; "" when every option given applies.
std::string checkPicks(const InputFormat& format, const InputSelection& selection) {
    const struct {
        unsigned pick;
        bool given;
        const char* option;
    } options[] = {{picksSeries, selection.series >= 0, "--series"},
                   {picksVolume, selection.volume >= 0, "--volume"},
                   {picksDataset, !selection.dataset.empty(), "--dataset"}};
    for (const auto& option : options) {
        if (!option.given || (format.picks & option.pick))
            continue;
        std::string takers;
        for (const InputFormat& other : inputFormats())
            if (other.picks & option.pick)
                takers += std::string(takers.empty() ? "" : ", ") + other.name;
        return std::string(option.option) + " does not apply to " + format.name +
               ", which holds one volume (it picks a part of " + takers + ")";
    }
    return std::string();
}

std::string openPackInput(const QStringList& given, const InputSelection& selection,
                          TypedSource* source) {
    QStringList paths = given;
    if (paths.size() == 1 && paths[0].startsWith("file://", Qt::CaseInsensitive))
        paths[0] = QUrl(paths[0]).toLocalFile();
    const QString path = paths.value(0);
    const QFileInfo file(path);
    if (selection.raw.given && (paths.size() > 1 || file.isDir()))
        return fileMessage(path, "--raw reads the samples of one file: pack each file alone");
    // Each input is looked at once: several are checked as slice pictures, one as a URL.
    const std::string refusal = paths.size() > 1 ? checkSlicePaths(paths) : checkUrl(path);
    if (!refusal.empty())
        return refusal;
    const InputFormat* format = inputFormatOf(paths, selection);
    const bool claimed = format && format->claims && format->claims(path);
    if (paths.size() == 1 && !claimed && !file.isDir() && !file.isFile())
        return fileMessage(path, cantOpenReason(path));
    if (!format) {
        const std::string netcdf = file.isFile() ? netcdf3Kind(firstBytes(path)) : std::string();
        if (!netcdf.empty())
            return fileMessage(path, "a " + netcdf +
                                         " file, which pack does not read: convert it to "
                                         "netCDF-4 (nccopy -k nc4 FILE NEW.nc) and pack that "
                                         "with --dataset VARIABLE");
        return fileMessage(path, "unsupported format (" + packReads() + ")");
    }
    const std::string unused = checkPicks(*format, selection);
    if (!unused.empty())
        return fileMessage(path, unused);
    if (paths.size() > 1)
        return throughDoor(
            path, [&](TypedSource* opened) { return openSlicePictures(paths, opened); }, source);
    return throughDoor(
        path, [&](TypedSource* opened) { return format->open(path, selection, opened); }, source);
}

const FormatSink* sinkFor(const QString& output) {
    const QFileInfo file(output);
    const std::string suffix = file.suffix().toLower().toStdString();
    const bool folder = suffix.empty() || file.isDir();
    for (const InputFormat& format : inputFormats()) {
        const std::vector<std::string>& suffixes = format.sink.suffixes;
        const bool takes =
            folder ? suffixes.empty()
                   : std::find(suffixes.begin(), suffixes.end(), suffix) != suffixes.end();
        if (format.sink.open && takes)
            return &format.sink;
    }
    return nullptr;
}

std::string unpackWrites() {
    std::vector<std::string> words;
    for (const InputFormat& format : inputFormats()) {
        if (!format.sink.open)
            continue;
        if (format.sink.suffixes.empty())
            words.push_back("a folder");
        for (const std::string& suffix : format.sink.suffixes)
            words.push_back("." + suffix);
    }
    return joined(words, "or");
}
