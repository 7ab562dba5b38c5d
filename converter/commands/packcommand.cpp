// tessary-vol pack: any input of the table of formats (slices, arrays, a volume) to a
// volume, through the plan of pack/packplan.

#include "commands.h"

#include "image.h"
#include "inputfile.h"
#include "output.h"
#include "formattable.h"
#include "packplan.h"
#include "pictureslices.h"
#include "pictures.h"
#include "referencepicture.h"
#include "systemmemory.h"
#include "text.h"
#include "slicestream.h"
#include "vol.h"

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

const char helpHead[] = R"(usage: tessary-vol pack INPUT... -o OUT.vol [OPTIONS]
Makes a volume from
)";

const char helpTail[] =
    R"(Samples may be 8-, 16- or 32-bit integers, signed or not, or 32- or 64-bit floats (slice
pictures: 8 or 16 bits). Unsigned 8-bit samples are copied; any other type is mapped linearly
from the samples' smallest to largest value (one range over all channels) onto 0..255, NaN
becoming 0. One channel is grey, two fill red and green, three fill red, green and blue; alpha is
dropped. Channel colours and display windows the file gives (OME-Zarr's omero) make the default
channel map and windows; --channels and --window override them. Unequal spacing is resampled to
cubic samples of the finest spacing before --crop or --pad; an axis of one sample (a single
slice) keeps it, whatever spacing the file gives it.
The output's size is told first, and checked against the free space and the memory the
conversion holds before any sample is read.

options:
  -o, --output OUT.vol      the volume to write (required)
  --window LO,HI            maps LO to 0 and HI to 255 instead of the samples' range (any type;
                            LO = HI makes a step: up to LO black, above it full)
  --channels A,B,C          source channels for red, green and blue, from 0; - leaves one black
  --spacing X,Y,Z           the distance between samples along x, y and z (overrides the file's)
  --size N                  resamples the cube to N samples a side (averaging when shrinking,
                            interpolating linearly when growing)
  --max-size N              resamples a cube larger than N to N samples a side; a smaller one
                            keeps its size
  --crop                    a non-cube input is cut to the centred cube of its shortest side
  --pad                     a non-cube input is centred in a black cube of its longest side
  --series K                the DICOM series to read, from 0 as info lists them
  --dataset PATH            the HDF5 dataset, .npz array or FITS HDU (N from 0, or EXTNAME) to
                            read (info lists them)
  --volume T                a volume of an input that holds several (time points, ...), from 0
  --raw W,H,D,TYPE,ENDIAN[,CHANNELS]
                            reads INPUT as bare samples of this shape, whatever its name: TYPE
                            uint8, int8, uint16, int16, uint32, int32, float32 or float64,
                            ENDIAN le or be, CHANNELS interleaved (default 1)
  --offset BYTES            with --raw: the bytes before the first sample (a header passed over)
  --name NAME               the header's picture name (default: OUT's name without .vol)
  --reference PICTURE       copies PICTURE beside OUT as NAME.png (other formats become PNG); one
                            the viewer would not show (more than 2^24 pixels) is fitted to
                            --reference-size
  --reference-slice K       writes slice z = K beside OUT as NAME.png
  --reference-size PX       the largest side of that picture (default 256)
)";

// The help, its list of inputs made from the table of formats.
const char* help() {
    static const std::string text = [] {
        std::string inputs;
        const std::vector<InputFormat>& formats = inputFormats();
        for (std::size_t k = 0; k < formats.size(); ++k)
            inputs +=
                std::string("  ") + formats[k].help + (k + 1 < formats.size() ? ",\n" : ".\n");
        return helpHead + inputs + helpTail;
    }();
    return text.c_str();
}

// The reference picture, read as it will be written.
struct Reference {
    QByteArray png;
    QSize fitted; // valid when the picture was fitted to the viewer's limit
};

// Decodes the picture reader reads, fitted to at most side pixels a side (keeping its shape)
// when the viewer would not show it at its own size. Decoding a picture that large needs
// memory beyond Qt's usual limit, checked first.
std::string decodeReference(const QString& path, QImageReader* reader, int side, QImage* image,
                            QSize* fitted) {
    const QSize size = reader->size(); // from the header, where the format tells it
    if (size.isValid() && !pictureSizeFits(size.width(), size.height())) {
        // At most 8 bytes a pixel (16-bit RGBA) while decoding, before the scaling.
        const std::uint64_t needs = 8 * std::uint64_t(size.width()) * std::uint64_t(size.height());
        const std::int64_t available = availableMemory();
        if (available >= 0 && needs > std::uint64_t(available))
            return fileMessage(path, formatString("out of memory: decoding %d x %d pixels needs ",
                                                  size.width(), size.height()) +
                                         describeBytes(needs) + ", " +
                                         describeBytes(std::uint64_t(available)) + " available");
        *fitted = size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        reader->setScaledSize(*fitted);
        const int limit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(int(needs >> 20) + 1);
        const bool read = reader->read(image);
        QImageReader::setAllocationLimit(limit);
        if (!read)
            return fileMessage(path, "can't read picture: " + reader->errorString().toStdString());
        return std::string();
    }
    if (!reader->read(image))
        return fileMessage(path, "can't read picture: " + reader->errorString().toStdString());
    if (!pictureSizeFits(image->width(), image->height())) { // a format without a header size
        *fitted = image->size().scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        *image = image->scaled(*fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return std::string();
}

// The PNG bytes of the picture at path: its own bytes when they are a PNG the viewer reads,
// else the picture converted, fitted to side pixels a side when the viewer would not show it.
std::string readReference(const QString& path, int side, Reference* reference) {
    FileHandle handle;
    const std::string failure = openInputFile(path, &handle);
    if (!failure.empty())
        return failure;
    QFile file; // reads through handle, which closes it
    if (!file.open(handle.get(), QIODevice::ReadOnly))
        return fileMessage(path, inputMessages::cantOpen);
    QByteArray& png = reference->png;
    png = file.readAll();
    QBuffer buffer(&png);
    QImageReader reader(&buffer);
    QImage image;
    const std::string decoded = decodeReference(path, &reader, side, &image, &reference->fitted);
    if (!decoded.empty())
        return decoded;
    const bool asIs = reader.format() == "png" && !reference->fitted.isValid() &&
                      pictureBytesProblem(reinterpret_cast<const unsigned char*>(png.constData()),
                                          std::size_t(png.size()))
                          .empty();
    if (!asIs) {
        png.clear();
        QBuffer converted(&png);
        converted.open(QIODevice::WriteOnly);
        image.save(&converted, "PNG");
    }
    return std::string();
}

// The reference picture's options: its name, the slice it is made of (-1: none) and its side.
struct PictureOptions {
    QString name;
    int slice = -1;
    int side = 256;
};

// Reads the picture options, or says what is wrong with them.
QString readPictureOptions(const QCommandLineParser& parser, const QString& output,
                           PictureOptions* picture) {
    picture->name =
        parser.isSet("name") ? parser.value("name") : QFileInfo(output).completeBaseName();
    bool sliceGood = true, sideGood = true;
    if (parser.isSet("reference-slice"))
        picture->slice = parser.value("reference-slice").toInt(&sliceGood);
    if (parser.isSet("reference-size"))
        picture->side = parser.value("reference-size").toInt(&sideGood);
    if (parser.isSet("reference") && parser.isSet("reference-slice"))
        return "--reference and --reference-slice exclude each other";
    if (!sliceGood || (parser.isSet("reference-slice") && picture->slice < 0))
        return "--reference-slice takes a slice number from 0";
    if (!sideGood || picture->side < 1)
        return "--reference-size takes a positive number of pixels";
    if (!isUsableVolumeName(picture->name))
        return "the picture name '" + picture->name +
               "' must be 1 to 259 bytes and stay in the folder";
    return QString();
}

// "" when neither the volume nor the picture pack writes would be written over a file it reads.
std::string checkOutputs(const QCommandLineParser& parser, const QString& output,
                         const QString& picturePath, const QStringList& read) {
    std::string failure = checkOutputPath(output, read);
    if (failure.empty() && (parser.isSet("reference") || parser.isSet("reference-slice")))
        failure = checkOutputPath(picturePath, read);
    return failure;
}

// One pack's state, from its options to its closing line.
struct PackJob {
    QStringList inputs;
    QString output, inputName, picturePath;
    PackSettings settings;
    PictureOptions picture;
    TypedSource source;
    PackPlan plan;
    SliceSink volume;
    std::shared_ptr<Reference> reference = std::make_shared<Reference>();
};

QString readPackOptions(const QCommandLineParser& parser, PackJob* job) {
    QString usage = readPackSettings(parser, &job->settings);
    if (usage.isEmpty())
        usage = readPictureOptions(parser, job->output, &job->picture);
    return usage;
}

// Nothing that is read is ever written over: the inputs, each picture of a slice folder and
// the reference picture. What reading the folder finds wrong is told when it is read.
QStringList filesRead(const QCommandLineParser& parser, const QStringList& inputs) {
    QStringList read = inputs, slices;
    if (inputs.size() == 1 && QFileInfo(inputs[0]).isDir() &&
        listSliceFiles(inputs, &slices).empty())
        read += slices;
    if (parser.isSet("reference"))
        read << parser.value("reference");
    return read;
}

// Opens the input and plans the output's size. The files the reader found it needs (a
// detached data file, a series' files) are added to read: they are inputs too, known only now.
std::string openAndPlan(PackJob* job, QStringList* read) {
    const std::string failure = readingInput(job->inputName, [&] {
        const std::string opened = openPackInput(job->inputs, job->settings.pick, &job->source);
        return opened.empty() ? planSizes(job->source, job->settings, job->inputName, &job->plan)
                              : opened;
    });
    for (const std::string& file : job->source.files)
        *read << QFile::decodeName(file.c_str());
    return failure;
}

// The size is told, and the free space checked, before the samples are read at all.
std::string writeVolume(const QCommandLineParser& parser, PackJob* job) {
    const int n = job->plan.n;
    std::printf("%s: %s to write, N = %d\n", qPrintable(job->output),
                describeBytes(job->plan.outputBytes).c_str(), n);
    std::fflush(stdout);
    VolumeHeader header;
    header.name = job->picture.name.toLocal8Bit().toStdString();
    header.size = n;
    std::string failure = openVolumeSink(job->output, header, &job->volume);
    Reference* reference = job->reference.get();
    if (failure.empty() && parser.isSet("reference"))
        failure = readReference(parser.value("reference"), job->picture.side, reference);
    if (!failure.empty())
        return failure;
    return readingInput(job->inputName, [&] {
        const std::string planned =
            planSamples(job->source, job->settings, job->inputName, &job->plan);
        if (!planned.empty())
            return planned;
        const auto png = std::shared_ptr<QByteArray>(job->reference, &reference->png);
        return streamSlices(job->plan.rgb,
                            withPicture(job->volume, n, job->picture.slice, job->picture.side, png,
                                        job->picturePath),
                            "packing");
    });
}

void printPacked(const PackJob& job) {
    std::string fitted;
    const QSize size = job.reference->fitted;
    if (size.isValid())
        fitted = formatString(", picture fitted to %d x %d (the viewer shows at most %lld pixels)",
                              size.width(), size.height(), (long long)maxPicturePixels);
    const std::string large = textureSizeNote(job.plan.n);
    std::printf("%s: %s, %s%s%s\n", qPrintable(job.output), describeInput(job.source.info).c_str(),
                describePlan(job.source.info, job.plan).c_str(), fitted.c_str(),
                large.empty() ? "" : ("; " + large).c_str());
}

int runPack(const QCommandLineParser& parser) {
    PackJob job;
    job.inputs = parser.positionalArguments();
    job.output = outputWithExtension(parser, name, ".vol");
    if (job.output.isEmpty())
        return 2;
    const QString usage = readPackOptions(parser, &job);
    if (!usage.isEmpty())
        return usageError(name, usage);

    QStringList read = filesRead(parser, job.inputs);
    job.picturePath = QFileInfo(job.output).dir().filePath(job.picture.name + ".png");
    std::string failure = checkOutputs(parser, job.output, job.picturePath, read);
    if (!failure.empty())
        return inputError(failure);
    job.inputName = job.inputs.size() == 1 ? job.inputs[0] : job.inputs[0] + " ...";
    failure = openAndPlan(&job, &read);
    if (failure.empty())
        failure = checkOutputs(parser, job.output, job.picturePath, read);
    if (!failure.empty())
        return inputError(failure);
    if (job.picture.slice >= job.plan.n)
        return usageError(name, QString("--reference-slice %1: the slices are 0 to %2")
                                    .arg(job.picture.slice)
                                    .arg(job.plan.n - 1));
    failure = writeVolume(parser, &job);
    if (!failure.empty())
        return inputError(failure);
    printPacked(job);
    return 0;
}

} // namespace

Command packCommand() {
    return {name,
            "pack INPUT... -o OUT.vol",
            "any input it reads (pack --help lists them) to a volume",
            help(),
            QList<QCommandLineOption>{{{"o", "output"}, "output", "OUT"},
                                      {"name", "name", "NAME"},
                                      {"reference", "picture", "PICTURE"},
                                      {"reference-slice", "slice", "K"},
                                      {"reference-size", "side", "PX"}} +
                packSettingOptions(),
            1,
            -1,
            runPack,
            InputKind::PackInputs};
}
