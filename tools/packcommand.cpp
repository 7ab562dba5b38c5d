// tessary-vol pack: any input it reads (slices, TIFF, NRRD, .npy, raw bytes, a volume) to a
// volume, through the plan of tools/packplan.

#include "commands.h"

#include "inputfile.h"
#include "output.h"
#include "packinput.h"
#include "packplan.h"
#include "slices.h"
#include "volumestream.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
const char name[] = "pack";

const char help[] = R"(usage: tessary-vol pack INPUT... -o OUT.vol [OPTIONS]
Makes a volume from
  a folder of slice pictures, or a list of them (any format Qt reads; natural order, the first
      is z = 0; a picture's top row is y = N - 1, as the viewer shows a slice),
  a multi-page TIFF (.tif, .tiff; a page a slice, as pictures are; ImageJ hyperstacks and
      OME-TIFF keep a page per channel),
  a NRRD file (.nrrd, .nhdr; raw or gzip encoding, grey or with a first axis of channels),
  a NumPy array (.npy; shape (z, y, x) or (z, y, x, channels), C order),
  a volume (.vol), to resize it with --size,
  raw RGB bytes (.raw; 3 * N^3 bytes, x fastest, then y, then z).
Samples may be 8-, 16- or 32-bit integers, signed or not, or 32- or 64-bit floats (slice
pictures: 8 or 16 bits). Unsigned 8-bit samples are copied; any other type is mapped linearly
from the samples' smallest to largest value (one range over all channels) onto 0..255, NaN
becoming 0. One channel is grey, two fill red and green, three fill red, green and blue; alpha is
dropped. Unequal spacing is resampled to cubic samples of the finest spacing before --crop or
--pad.

options:
  -o, --output OUT.vol      the volume to write (required)
  --window LO,HI            maps LO to 0 and HI to 255 instead of the samples' range (any type;
                            LO = HI makes a step: up to LO black, above it full)
  --channels A,B,C          source channels for red, green and blue, from 0; - leaves one black
  --spacing X,Y,Z           the distance between samples along x, y and z (overrides the file's)
  --size N                  resamples the cube to N samples a side (averaging when shrinking,
                            interpolating linearly when growing)
  --crop                    a non-cube input is cut to the centred cube of its shortest side
  --pad                     a non-cube input is centred in a black cube of its longest side
  --series K                the DICOM series to read, from 0 as info lists them
  --name NAME               the header's picture name (default: OUT's name without .vol)
  --reference PICTURE       copies PICTURE beside OUT as NAME.png (other formats become PNG)
  --reference-slice K       writes slice z = K beside OUT as NAME.png
  --reference-size PX       the largest side of that slice's picture (default 256)
)";

// The PNG bytes of the picture at path: its own bytes when it is a PNG, else converted.
std::string referenceBytes(const QString& path, QByteArray* png) {
    FileHandle handle;
    const std::string failure = openInputFile(path, &handle);
    if (!failure.empty())
        return failure;
    QFile file; // reads through handle, which closes it
    if (!file.open(handle.get(), QIODevice::ReadOnly))
        return fileMessage(path, inputMessages::cantOpen);
    *png = file.readAll();
    QBuffer buffer(png);
    QImageReader reader(&buffer);
    QImage image;
    if (!reader.read(&image))
        return fileMessage(path, "can't read picture: " + reader.errorString().toStdString());
    if (reader.format() != "png") {
        png->clear();
        QBuffer converted(png);
        converted.open(QIODevice::WriteOnly);
        image.save(&converted, "PNG");
    }
    return std::string();
}

// The volume's sink with its reference picture: the given PNG bytes, or slice pictureSlice
// (when not negative) as it passes, scaled to at most pictureSide pixels a side. The picture is
// written just before the volume is committed, so a failed pack leaves neither.
SliceSink withPicture(const SliceSink& volume, int n, int pictureSlice, int pictureSide,
                      std::shared_ptr<QByteArray> picture, const QString& picturePath) {
    auto z = std::make_shared<int>(0);
    SliceSink sink;
    sink.write = [=](const unsigned char* rgb) {
        if ((*z)++ == pictureSlice) {
            QBuffer buffer(picture.get());
            buffer.open(QIODevice::WriteOnly);
            const QImage slice = slicePicture(rgb, n, n);
            (n <= pictureSide ? slice
                              : slice.scaled(pictureSide, pictureSide, Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation))
                .save(&buffer, "PNG");
        }
        return volume.write(rgb);
    };
    sink.commit = [=] {
        if (!picture->isEmpty()) {
            const std::string failure =
                saveWholeFile(picturePath, picture->constData(), picture->size());
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
    PackSettings settings;
    const QString settingsFailure = readPackSettings(parser, &settings);
    bool sliceGood = true, sideGood = true;
    const int pictureSlice =
        parser.isSet("reference-slice") ? parser.value("reference-slice").toInt(&sliceGood) : -1;
    const int pictureSide =
        parser.isSet("reference-size") ? parser.value("reference-size").toInt(&sideGood) : 256;
    if (!settingsFailure.isEmpty())
        return usageError(name, settingsFailure);
    if (parser.isSet("reference") && parser.isSet("reference-slice"))
        return usageError(name, "--reference and --reference-slice exclude each other");
    if (!sliceGood || (parser.isSet("reference-slice") && pictureSlice < 0))
        return usageError(name, "--reference-slice takes a slice number from 0");
    if (!sideGood || pictureSide < 1)
        return usageError(name, "--reference-size takes a positive number of pixels");
    if (!isUsableVolumeName(pictureName))
        return usageError(name, "the picture name '" + pictureName +
                                    "' must be 1 to 259 bytes and stay in the folder");

    // Nothing that is read is ever written over: the inputs, each picture of a slice folder and
    // the reference picture. What reading the folder finds wrong is told when it is read.
    QStringList read = inputs, slices;
    if (inputs.size() == 1 && QFileInfo(inputs[0]).isDir() &&
        listSliceFiles(inputs, &slices).empty())
        read += slices;
    if (parser.isSet("reference"))
        read << parser.value("reference");
    const QString picturePath = QFileInfo(output).dir().filePath(pictureName + ".png");
    std::string failure = checkOutputPath(output, read);
    if (failure.empty() && (parser.isSet("reference") || parser.isSet("reference-slice")))
        failure = checkOutputPath(picturePath, read);
    if (!failure.empty())
        return inputError(failure);

    TypedSource source;
    PackPlan plan;
    const QString inputName = inputs.size() == 1 ? inputs[0] : inputs[0] + " ...";
    failure = readingInput(inputName, [&] {
        const std::string opened = openPackInput(inputs, settings.pick, &source);
        return opened.empty() ? planPack(source, settings, inputName, &plan) : opened;
    });
    // The files the reader found it needs (a detached data file, a series' files) are inputs
    // too, known only now.
    for (const std::string& file : source.files)
        read << QFile::decodeName(file.c_str());
    if (failure.empty())
        failure = checkOutputPath(output, read);
    if (failure.empty() && (parser.isSet("reference") || parser.isSet("reference-slice")))
        failure = checkOutputPath(picturePath, read);
    if (!failure.empty())
        return inputError(failure);
    const int n = plan.n;
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
        failure = readingInput(inputName, [&] {
            return streamSlices(
                plan.rgb, withPicture(volume, n, pictureSlice, pictureSide, picture, picturePath),
                "packing");
        });
    if (!failure.empty())
        return inputError(failure);
    std::printf("%s: %s, %s\n", qPrintable(output), describeInput(source.info).c_str(),
                describePlan(source.info, plan).c_str());
    return 0;
}

} // namespace

Command packCommand() {
    return {name,
            "pack INPUT... -o OUT.vol",
            "slices, TIFF, NRRD, .npy, raw bytes or a volume to a volume",
            help,
            QList<QCommandLineOption>{{{"o", "output"}, "output", "OUT"},
                                      {"name", "name", "NAME"},
                                      {"reference", "picture", "PICTURE"},
                                      {"reference-slice", "slice", "K"},
                                      {"reference-size", "side", "PX"}} +
                packSettingOptions(),
            1,
            -1,
            runPack};
}
