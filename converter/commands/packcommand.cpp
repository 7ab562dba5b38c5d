// tessary-vol pack: any input of the table of formats (slices, arrays, a volume) to a
// volume, through the plan of pack/packplan.

#include "commands.h"

#include "image.h"
#include "inputfile.h"
#include "output.h"
#include "formattable.h"
#include "packoptions.h"
#include "packplan.h"
#include "pictures/pictureslices.h"
#include "pictures/pictures.h"
#include "progress.h"
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
#include <climits>
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

// The reference picture's options: its name, the picture or the slice it is made of (-1: none)
// and its side.
struct PictureOptions {
    QString name;
    QString reference;
    int slice = -1;
    int side = 256;
};

QString readPictureName(const QString& value, PictureOptions* picture) {
    picture->name = value;
    return QString();
}

QString readReferencePath(const QString& value, PictureOptions* picture) {
    picture->reference = value;
    return QString();
}

QString readReferenceSlice(const QString& value, PictureOptions* picture) {
    if (!picture->reference.isEmpty())
        return "--reference and --reference-slice exclude each other";
    return readIntegerIn(value, 0, INT_MAX, &picture->slice)
               ? QString()
               : "--reference-slice takes a slice number from 0";
}

QString readReferenceSide(const QString& value, PictureOptions* picture) {
    return readIntegerIn(value, 1, INT_MAX, &picture->side)
               ? QString()
               : "--reference-size takes a positive number of pixels";
}

const std::vector<OptionReader<PictureOptions>>& pictureReaders() {
    static const std::vector<OptionReader<PictureOptions>> readers = {
        {{"name", "NAME", "the header's picture name (default: OUT's name without .vol)"},
         readPictureName},
        {{"reference", "PICTURE",
          "copies PICTURE beside OUT as NAME.png (other formats become PNG); one the viewer "
          "would not show (more than 2^24 pixels) is fitted to --reference-size"},
         readReferencePath},
        {{"reference-slice", "K", "writes slice z = K beside OUT as NAME.png"}, readReferenceSlice},
        {{"reference-size", "PX", "the largest side of that picture (default 256)"},
         readReferenceSide},
    };
    return readers;
}

// Reads the picture options, or says what is wrong with them.
QString readPictureOptions(const QCommandLineParser& parser, const QString& output,
                           PictureOptions* picture) {
    const QString usage = readOptions(parser, pictureReaders(), picture);
    if (!usage.isEmpty())
        return usage;
    if (!parser.isSet("name"))
        picture->name = QFileInfo(output).completeBaseName();
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
        failure = readReference(job->picture.reference, job->picture.side, reference);
    if (!failure.empty())
        return failure;
    // One bar over the pass for the range and the output's.
    startJob("packing", needsRangePass(job->settings, job->plan) ? 2 : 1);
    failure = readingInput(job->inputName, [&] {
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
    endJob();
    return failure;
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

// -o first, then what shapes the volume, then its picture.
std::vector<Option> options() {
    std::vector<Option> all = {{"o,output", "OUT.vol", "the volume to write (required)"}};
    for (const std::vector<Option>& part :
         {declarations(packSettingReaders()), declarations(pictureReaders())})
        all.insert(all.end(), part.begin(), part.end());
    return all;
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
            options(),
            1,
            -1,
            runPack,
            InputKind::PackInputs};
}
