// tessary-vol pack: slices, TIFF, NRRD, .npy or raw bytes to a volume.

#include "commands.h"

#include "npyfile.h"
#include "nrrdfile.h"
#include "output.h"
#include "rawfile.h"
#include "slices.h"
#include "tiffstack.h"
#include "volumestream.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

#include <cstdio>
#include <memory>

namespace {
const char name[] = "pack";

const char help[] = R"(usage: tessary-vol pack INPUT... -o OUT.vol [OPTIONS]
Makes a volume from
  a folder of slice pictures, or a list of them (any format Qt reads; natural order, the first
      is z = 0; a picture's top row is y = N - 1, as the viewer shows a slice),
  a multi-page TIFF (.tif, .tiff; a page a slice, as pictures are),
  a NRRD file (.nrrd, .nhdr; unsigned char, grey or RGB, raw or gzip encoding),
  a NumPy array (.npy; uint8, shape (N, N, N, 3) or (N, N, N), C order, z slowest),
  raw RGB bytes with --size N (3 * N^3 bytes, x fastest, then y, then z).
Grey becomes RGB, alpha is dropped, 16-bit samples are scaled to 8 bits.

options:
  -o, --output OUT.vol      the volume to write (required)
  --size N                  the input is raw RGB bytes of an N^3 volume
  --crop                    a non-cube input is cut to the centred cube of its shortest side
  --pad                     a non-cube input is centred in a black cube of its longest side
  --name NAME               the header's picture name (default: OUT's name without .vol)
  --reference PICTURE       copies PICTURE beside OUT as NAME.png (other formats become PNG)
  --reference-slice K       writes slice z = K beside OUT as NAME.png
)";

// The PNG bytes of the picture at path: its own bytes when it is a PNG, else converted.
std::string referenceBytes(const QString& path, QByteArray* png) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return path.toStdString() + ": can't open input file";
    *png = file.readAll();
    QBuffer buffer(png);
    QImageReader reader(&buffer);
    QImage image;
    if (!reader.read(&image))
        return path.toStdString() + ": can't read picture: " + reader.errorString().toStdString();
    if (reader.format() != "png") {
        png->clear();
        QBuffer converted(png);
        converted.open(QIODevice::WriteOnly);
        image.save(&converted, "PNG");
    }
    return std::string();
}

// The source that pack's inputs name: raw bytes with --size (rawSize > 0), else by the one
// input's extension, else slice pictures.
std::string openPackInput(const QStringList& inputs, int rawSize, SliceSource* source) {
    const QString suffix = QFileInfo(inputs[0]).suffix().toLower();
    const bool single = inputs.size() == 1 && !QFileInfo(inputs[0]).isDir();
    if (rawSize > 0)
        return openRawVolume(inputs[0], rawSize, source);
    if (single && (suffix == "tif" || suffix == "tiff"))
        return openTiffSource(inputs[0], source);
    if (single && (suffix == "nrrd" || suffix == "nhdr"))
        return openNrrdSource(inputs[0], source);
    if (single && suffix == "npy")
        return openNpySource(inputs[0], source);
    QStringList files;
    const std::string failure = listSliceFiles(inputs, &files);
    return failure.empty() ? openSliceSource(files, source) : failure;
}

// The volume's sink with its reference picture: the given PNG bytes, or slice pictureSlice
// (when not negative) as it passes. The picture is written just before the volume is committed,
// so a failed pack leaves neither.
SliceSink withPicture(const SliceSink& volume, int n, int pictureSlice,
                      std::shared_ptr<QByteArray> picture, const QString& picturePath) {
    auto z = std::make_shared<int>(0);
    SliceSink sink;
    sink.write = [=](const unsigned char* rgb) {
        if ((*z)++ == pictureSlice) {
            QBuffer buffer(picture.get());
            buffer.open(QIODevice::WriteOnly);
            slicePicture(rgb, n, n).save(&buffer, "PNG");
        }
        return volume.write(rgb);
    };
    sink.commit = [=] {
        if (!picture->isEmpty()) {
            QSaveFile file(picturePath);
            if (!file.open(QIODevice::WriteOnly) || file.write(*picture) != picture->size())
                return writeFailure(picturePath, file.errorString());
            const std::string failure = commitSaveFile(&file, picturePath);
            if (!failure.empty())
                return failure;
        }
        return volume.commit();
    };
    return sink;
}

int runPack(const QCommandLineParser& parser) {
    const QStringList inputs = parser.positionalArguments();
    const QString output = outputWithExtension(parser, name, ".vol");
    if (output.isEmpty())
        return 2;
    const QString pictureName =
        parser.isSet("name") ? parser.value("name") : QFileInfo(output).completeBaseName();
    bool sizeGood = true, sliceGood = true;
    const int size = parser.isSet("size") ? parser.value("size").toInt(&sizeGood) : 0;
    const int pictureSlice =
        parser.isSet("reference-slice") ? parser.value("reference-slice").toInt(&sliceGood) : -1;
    if (parser.isSet("crop") && parser.isSet("pad"))
        return usageError(name, "--crop and --pad exclude each other");
    if (parser.isSet("reference") && parser.isSet("reference-slice"))
        return usageError(name, "--reference and --reference-slice exclude each other");
    if (parser.isSet("size") &&
        (!sizeGood || size < 1 || size > volumeLayout::maxSize || inputs.size() != 1))
        return usageError(name, "--size takes a positive N and one raw input file");
    if (!parser.isSet("size") && inputs.size() == 1 && inputs[0].toLower().endsWith(".raw"))
        return usageError(name, "raw input needs --size N");
    if (!sliceGood || (parser.isSet("reference-slice") && pictureSlice < 0))
        return usageError(name, "--reference-slice takes a slice number from 0");
    if (!isUsableVolumeName(pictureName))
        return usageError(name, "the picture name '" + pictureName +
                                    "' must be 1 to 259 bytes and stay in the folder");

    SliceSource source, cube;
    const CubeFit fit = parser.isSet("crop")  ? CubeFit::Crop
                        : parser.isSet("pad") ? CubeFit::Pad
                                              : CubeFit::Refuse;
    std::string failure = openPackInput(inputs, size, &source);
    if (failure.empty())
        failure =
            fitToCube(source, fit, inputs.size() == 1 ? inputs[0] : inputs[0] + " ...", &cube);
    if (!failure.empty())
        return inputError(failure);
    const int n = cube.width;
    if (pictureSlice >= n)
        return usageError(
            name,
            QString("--reference-slice %1: the slices are 0 to %2").arg(pictureSlice).arg(n - 1));

    auto picture = std::make_shared<QByteArray>();
    if (parser.isSet("reference"))
        failure = referenceBytes(parser.value("reference"), picture.get());
    VolumeHeader header;
    header.name = pictureName.toLocal8Bit().toStdString();
    header.size = n;
    SliceSink volume;
    if (failure.empty())
        failure = openVolumeSink(output, header, &volume);
    if (failure.empty())
        failure = streamSlices(cube,
                               withPicture(volume, n, pictureSlice, picture,
                                           QFileInfo(output).dir().filePath(pictureName + ".png")),
                               "packing");
    if (!failure.empty())
        return inputError(failure);
    std::printf("%s: N = %d from %d x %d x %d samples\n", qPrintable(output), n, source.width,
                source.height, source.depth);
    return 0;
}
} // namespace

Command packCommand() {
    return {name,
            "pack INPUT... -o OUT.vol",
            "slices, multi-page TIFF, NRRD, .npy or raw bytes to a volume",
            help,
            {{{"o", "output"}, "output", "OUT"},
             {"size", "raw size", "N"},
             {"crop", "crop"},
             {"pad", "pad"},
             {"name", "name", "NAME"},
             {"reference", "picture", "PICTURE"},
             {"reference-slice", "slice", "K"}},
            1,
            -1,
            runPack};
}
