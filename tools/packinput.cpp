#include "packinput.h"

#include "dicomseries.h"
#include "helpers.h"
#include "metaimage.h"
#include "niftifile.h"
#include "npyfile.h"
#include "nrrdfile.h"
#include "output.h"
#include "rawfile.h"
#include "samplemap.h"
#include "slices.h"
#include "tiffstack.h"
#include "volumestream.h"

#include <QFileInfo>
#include <QImageReader>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

const char packReads[] = "pack reads slice pictures, multi-page TIFF, NIfTI, DICOM, MetaImage, "
                         "NRRD, .npy, .vol and raw RGB bytes";

namespace {
// A raw file's N from its length, 3 * N^3 bytes; 0 when the length is no such number.
int rawSize(const QString& path) {
    const qint64 length = QFileInfo(path).size();
    const int n = int(std::lround(std::cbrt(double(length) / 3)));
    return n > 0 && 3 * qint64(n) * n * n == length ? n : 0;
}

// Whether a file begins as a DICOM file does: a 128-byte preamble, then "DICM".
bool isDicomFile(const QString& path) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    unsigned char start[132];
    return file && std::fread(start, 1, sizeof start, file.get()) == sizeof start &&
           std::memcmp(start + 128, "DICM", 4) == 0;
}
} // namespace

std::string openPackInput(const QStringList& paths, int series, TypedSource* source) {
    const QString path = paths.value(0);
    const QFileInfo file(path);
    // Today's readers of RGB bytes, made typed.
    const auto rgb = [source](const char* format,
                              const std::function<std::string(SliceSource*)>& open) {
        SliceSource slices;
        const std::string failure = open(&slices);
        if (failure.empty())
            *source = typedFromRgb(slices, format);
        return failure;
    };
    if (paths.size() == 1 && !file.isDir()) {
        // Only a regular file is looked into: a FIFO would block the readers below.
        if (!file.isFile())
            return fileMessage(path, "can't open input file");
        const QString suffix = file.suffix().toLower();
        if (path.endsWith(".nii", Qt::CaseInsensitive) ||
            path.endsWith(".nii.gz", Qt::CaseInsensitive))
            return openNiftiSource(path, source);
        if (suffix == "mha" || suffix == "mhd")
            return openMetaImageSource(path, source);
        if (suffix == "dcm" || isDicomFile(path))
            return openDicomSource(path, series, source);
        if (suffix == "tif" || suffix == "tiff")
            return rgb("TIFF", [&](SliceSource* s) { return openTiffSource(path, s); });
        if (suffix == "nrrd" || suffix == "nhdr")
            return rgb("NRRD", [&](SliceSource* s) { return openNrrdSource(path, s); });
        if (suffix == "npy")
            return rgb("NumPy array", [&](SliceSource* s) { return openNpySource(path, s); });
        if (suffix == "vol")
            return rgb("Tessary volume", [&](SliceSource* s) {
                VolumeHeader header;
                return openVolumeSource(path, s, &header);
            });
        if (suffix == "raw") {
            const int n = rawSize(path);
            if (n == 0)
                return fileMessage(path, "raw RGB bytes must number 3 * N^3");
            return rgb("raw RGB bytes", [&](SliceSource* s) { return openRawVolume(path, n, s); });
        }
        if (QImageReader::imageFormat(path).isEmpty())
            return fileMessage(path, std::string("unsupported format (") + packReads + ")");
    }
    QStringList files;
    const std::string failure = listSliceFiles(paths, &files);
    // A folder without slice pictures is taken for a DICOM series.
    if (!failure.empty() && paths.size() == 1 && file.isDir())
        return openDicomSource(path, series, source);
    if (!failure.empty())
        return failure;
    return rgb("slice pictures", [&](SliceSource* s) { return openSliceSource(files, s); });
}
