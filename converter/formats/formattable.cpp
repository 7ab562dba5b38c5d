#include "formattable.h"

#include "dicom.h"
#include "helpers.h"
#include "metaimage.h"
#include "nifti.h"
#include "npy.h"
#include "nrrd.h"
#include "messages.h"
#include "raw.h"
#include "samplemap.h"
#include "pictureslices.h"
#include "tiff.h"
#include "slicestream.h"
#include "vol.h"

#include <QFileInfo>
#include <QImageReader>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

const char packReads[] = "pack reads slice pictures, multi-page TIFF, NIfTI, DICOM, MetaImage, "
                         "NRRD, .npy, .vol and raw RGB bytes";

namespace {
// Whether a file begins as a DICOM file does: a 128-byte preamble, then "DICM".
bool isDicomFile(const QString& path) {
    FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
    unsigned char start[132];
    return file && std::fread(start, 1, sizeof start, file.get()) == sizeof start &&
           std::memcmp(start + 128, "DICM", 4) == 0;
}

// A reader's bare reasons made messages that name the input, its reads' too.
std::string atDoor(const QString& path, const std::string& failure, TypedSource* source) {
    if (!failure.empty())
        return inputMessage(path, failure);
    using Read = std::function<std::string(int, void*)>;
    const auto named = [&path](Read read) -> Read {
        return [read = std::move(read), path](int z, void* samples) {
            const std::string reason = read(z, samples);
            return reason.empty() ? reason : inputMessage(path, reason);
        };
    };
    source->read = named(std::move(source->read));
    if (source->readStored)
        source->readStored = named(std::move(source->readStored));
    return failure;
}
} // namespace

std::string openPackInput(const QStringList& paths, const InputSelection& selection,
                          TypedSource* source) {
    const QString path = paths.value(0);
    const QFileInfo file(path);
    if (paths.size() == 1 && !file.isDir()) {
        // Only a regular file is looked into: a FIFO would block the readers below.
        if (!file.isFile())
            return fileMessage(path, inputMessages::cantOpen);
        const QString suffix = file.suffix().toLower();
        if (path.endsWith(".nii", Qt::CaseInsensitive) ||
            path.endsWith(".nii.gz", Qt::CaseInsensitive))
            return atDoor(path, openNiftiSource(path, selection.volume, source), source);
        if (suffix == "mha" || suffix == "mhd")
            return atDoor(path, openMetaImageSource(path, source), source);
        if (suffix == "dcm" || isDicomFile(path))
            return atDoor(path, openDicomSource(path, selection, source), source);
        if (suffix == "tif" || suffix == "tiff")
            return openTiffSource(path, source);
        if (suffix == "nrrd" || suffix == "nhdr")
            return openNrrdSource(path, source);
        if (suffix == "npy")
            return openNpySource(path, source);
        if (suffix == "vol") {
            // A .vol is already RGB bytes; packing it again resizes it.
            SliceSource slices;
            VolumeHeader header;
            const std::string failure = openVolumeSource(path, &slices, &header);
            if (failure.empty())
                *source = typedFromRgb(slices, "Tessary volume");
            return failure;
        }
        if (suffix == "raw")
            return openRawVolume(path, source);
        if (QImageReader::imageFormat(path).isEmpty())
            return fileMessage(path, std::string("unsupported format (") + packReads + ")");
    }
    QStringList files;
    const std::string failure = listSliceFiles(paths, &files);
    // A folder without slice pictures is taken for a DICOM series.
    if (!failure.empty() && paths.size() == 1 && file.isDir())
        return atDoor(path, openDicomSource(path, selection, source), source);
    if (!failure.empty())
        return failure;
    return openSliceSource(files, source);
}
