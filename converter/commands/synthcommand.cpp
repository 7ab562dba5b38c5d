// tessary-vol synth: a solid texture whose slices look like a picture, through synth/.

#include "commands.h"
#include "exemplarpicture.h"

#include "files.h"
#include "output.h"
#include "progress.h"
#include "referencepicture.h"
#include "solidsynth.h"
#include "text.h"
#include "vol.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>

#include <cstdio>
#include <memory>

namespace {
const char name[] = "synth";

// A picture whose header promises more is refused before it is decoded; one larger than the
// side used is fitted down to it.
constexpr int maxPictureSide = 4096;
constexpr qint64 maxPicturePixels = 16 << 20;
constexpr int usedSide = 1024;
constexpr int referenceSide = 256;

const char help[] = R"(usage: tessary-vol synth EXEMPLAR -o OUT.vol [OPTIONS]
Synthesises an N x N x N solid texture whose slices along all three axes look like the picture
EXEMPLAR (any picture Qt reads: 8- or 16-bit grey, RGB or RGBA, alpha dropped), by texture
optimisation from coarse to fine. The solid tiles: opposite faces continue each other. The same
inputs and seed give the same bytes on any machine and with any number of threads. EXEMPLAR,
at most 256 pixels a side, becomes the volume's reference picture, written beside OUT as
NAME.png. A picture over 1024 pixels a side is fitted down to it; one whose header promises
more than 4096 pixels a side or 16 M pixels is refused.

)";

struct SynthJob {
    QString output, picturePath;
    QString inputs[3]; // the exemplars of the slices normal to x, y and z
    QImage images[3];
    Picture pictures[3];
    bool fitted[3] = {false, false, false};
    SynthSettings settings;
    SynthResult result;
};

QString readSide(const QString& value, SynthJob* job) {
    if (!readIntegerIn(value, minSynthSide, maxSynthSide, &job->settings.n))
        return QString("--size takes N from %1 to %2").arg(minSynthSide).arg(maxSynthSide);
    return QString();
}

QString readSeed(const QString& value, SynthJob* job) {
    bool good = true;
    job->settings.seed = value.toUInt(&good);
    return good ? QString() : "--seed takes a number from 0 to 4294967295";
}

QString readXz(const QString& value, SynthJob* job) {
    job->inputs[1] = value;
    return QString();
}

QString readYz(const QString& value, SynthJob* job) {
    job->inputs[0] = value;
    return QString();
}

const std::vector<OptionReader<SynthJob>>& readers() {
    static const std::vector<OptionReader<SynthJob>> table = {
        {{"o,output", "OUT.vol", "the volume to write (required)"}, nullptr},
        {{"size", "N", "the cube's side, 16 to 512 (default 128)"}, readSide},
        {{"seed", "S", "the seed, 0 to 4294967295 (default 0)"}, readSeed},
        {{"xz", "PICTURE",
          "the exemplar of slices normal to y: its columns run along x, its rows along z (an "
          "anisotropic material)"},
         readXz},
        {{"yz", "PICTURE", "the same for slices normal to x: columns along y, rows along z"},
         readYz},
    };
    return table;
}

// The exemplar stands for every axis that --xz or --yz does not name.
QString readSynthOptions(const QCommandLineParser& parser, SynthJob* job) {
    const QString exemplar = parser.positionalArguments()[0];
    for (QString& input : job->inputs)
        input = exemplar;
    return readOptions(parser, readers(), job);
}

// Decodes the picture at path, its size checked from its header first.
std::string readExemplar(const QString& path, QImage* image) {
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable())
        return fileMessage(path, inputMessages::cantOpen);
    QImageReader reader(path);
    const QSize size = reader.size();
    const auto tooLarge = [](QSize s) {
        return s.width() > maxPictureSide || s.height() > maxPictureSide ||
               qint64(s.width()) * s.height() > maxPicturePixels;
    };
    if (size.isValid() && tooLarge(size))
        return fileMessage(path, formatString("picture of %d x %d pixels: at most %d a side and "
                                              "%lld pixels are taken",
                                              size.width(), size.height(), maxPictureSide,
                                              (long long)maxPicturePixels));
    if (!reader.read(image))
        return fileMessage(path, "can't read picture: " + reader.errorString().toStdString());
    if (tooLarge(image->size())) // a format without a size in its header
        return fileMessage(path, formatString("picture of %d x %d pixels: at most %d a side",
                                              image->width(), image->height(), maxPictureSide));
    return std::string();
}

// Reads each exemplar once, fitting a large one down and refusing one too small.
std::string readExemplars(SynthJob* job) {
    for (int a = 2; a >= 0; --a) {
        const int same = a < 2 && job->inputs[a] == job->inputs[2] ? 2 : a;
        if (same != a) {
            job->settings.exemplars[a] = &job->pictures[same];
            job->fitted[a] = job->fitted[same];
            continue;
        }
        QImage& image = job->images[a];
        const std::string failure = readExemplar(job->inputs[a], &image);
        if (!failure.empty())
            return failure;
        if (image.width() > usedSide || image.height() > usedSide) {
            image = image.scaled(usedSide, usedSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            job->fitted[a] = true;
        }
        job->pictures[a] = exemplarPicture(image);
        if (!exemplarFits(job->pictures[a]))
            return fileMessage(job->inputs[a],
                               formatString("picture of %d x %d pixels: an exemplar needs at "
                                            "least %d x %d",
                                            image.width(), image.height(), patchSide, patchSide));
        job->settings.exemplars[a] = &job->pictures[a];
    }
    return std::string();
}

// The main exemplar as the reference picture, at most referenceSide pixels a side.
std::shared_ptr<QByteArray> referencePng(const QImage& exemplar) {
    auto png = std::make_shared<QByteArray>();
    QBuffer buffer(png.get());
    buffer.open(QIODevice::WriteOnly);
    const bool fits = exemplar.width() <= referenceSide && exemplar.height() <= referenceSide;
    (fits ? exemplar
          : exemplar.scaled(referenceSide, referenceSide, Qt::KeepAspectRatio,
                            Qt::SmoothTransformation))
        .convertToFormat(QImage::Format_RGB888)
        .save(&buffer, "PNG");
    return png;
}

void synthesize(SynthJob* job) {
    Progress progress;
    job->settings.progress = [&](int done, int total) {
        if (done == 1)
            progress = startProgress("synthesising", total);
        advanceProgress(&progress, done);
    };
    job->result = synthesizeSolid(job->settings);
    finishProgress(&progress);
}

// The size is told, and the free space checked, before the synthesis starts.
std::string writeSolid(SynthJob* job) {
    const int n = job->settings.n;
    const std::uint64_t bytes = 3 * std::uint64_t(n) * n * n;
    std::printf("%s: %s to write, N = %d\n", qPrintable(job->output), describeBytes(bytes).c_str(),
                n);
    std::fflush(stdout);
    VolumeHeader header;
    header.name = QFileInfo(job->output).completeBaseName().toLocal8Bit().toStdString();
    header.size = n;
    SliceSink volume;
    std::string failure = openVolumeSink(job->output, header, &volume);
    if (!failure.empty())
        return failure;
    failure = readingInput(job->inputs[2], [&] {
        synthesize(job);
        return std::string();
    });
    if (!failure.empty())
        return failure;
    const SliceSink sink =
        withPicture(volume, n, -1, referenceSide, referencePng(job->images[2]), job->picturePath);
    for (int z = 0; z < n && failure.empty(); ++z)
        failure = sink.write(&job->result.rgb[3 * std::size_t(z) * n * n]);
    return failure.empty() ? sink.commit() : failure;
}

void printSynthesised(const SynthJob& job, double seconds) {
    std::string exemplars = shownPath(job.inputs[2]);
    if (job.inputs[1] != job.inputs[2])
        exemplars += ", xz " + shownPath(job.inputs[1]);
    if (job.inputs[0] != job.inputs[2])
        exemplars += ", yz " + shownPath(job.inputs[0]);
    std::string fitted;
    for (int a = 0; a < 3; ++a)
        if (job.fitted[a] && job.settings.exemplars[a] == &job.pictures[a])
            fitted += formatString(", %s fitted to %d x %d", shownPath(job.inputs[a]).c_str(),
                                   job.pictures[a].width, job.pictures[a].height);
    std::printf("%s: %d^3 synthesised from %s, seed %u, in %.1f s, matching energy %.2f%s\n",
                qPrintable(job.output), job.settings.n, exemplars.c_str(), job.settings.seed,
                seconds, job.result.energy, fitted.c_str());
}

int runSynth(const QCommandLineParser& parser) {
    SynthJob job;
    job.output = outputWithExtension(parser, name, ".vol");
    if (job.output.isEmpty())
        return 2;
    const QString usage = readSynthOptions(parser, &job);
    if (!usage.isEmpty())
        return usageError(name, usage);
    const QString pictureName = QFileInfo(job.output).completeBaseName();
    if (!isUsableVolumeName(pictureName))
        return usageError(name, "the picture name '" + pictureName +
                                    "' must be 1 to 259 bytes and stay in the folder");
    job.picturePath = QFileInfo(job.output).dir().filePath(pictureName + ".png");
    const QStringList read = {job.inputs[0], job.inputs[1], job.inputs[2]};
    std::string failure = checkOutputPath(job.output, read);
    if (failure.empty())
        failure = checkOutputPath(job.picturePath, read);
    if (failure.empty())
        failure = readExemplars(&job);
    QElapsedTimer timer;
    timer.start();
    if (failure.empty())
        failure = writeSolid(&job);
    if (!failure.empty())
        return inputError(failure);
    printSynthesised(job, timer.elapsed() / 1000.0);
    return 0;
}
} // namespace

Command synthCommand() {
    return {name,
            "synth EXEMPLAR -o OUT.vol",
            "a solid texture whose slices look like a picture",
            help,
            declarations(readers()),
            1,
            1,
            runSynth,
            InputKind::Pictures};
}
