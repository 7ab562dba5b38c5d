#include <GL/glew.h>

#include "testsupport.h"
#include "formattable.h"
#include "raw.h"
#include "orientation.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <map>

#include <sys/stat.h>
#include <zlib.h>

bool startGlew() { // here, apart from glcontext.cpp: GLEW and QOpenGLContext cannot share a file
    return glewInit() == GLEW_OK;
}

void ensureApplication() {
    static int argc = 1;
    static char name[] = "tessary-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv); // lives until the process ends, like the viewer's
}

void writeFile(const std::string& name, const std::string& bytes) {
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly)) << name;
    file.write(bytes.data(), qint64(bytes.size()));
}

void makeNotAFile(const std::string& path, NotAFile kind) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    const bool made = kind == NotAFile::Directory ? QDir().mkdir(QString::fromStdString(path))
                                                  : mkfifo(path.c_str(), 0600) == 0;
    ASSERT_TRUE(made) << path;
}

std::vector<unsigned char> loadedSamples(const char* path) {
    FileHandle file = openFile(path, "rb");
    VolumeHeader header;
    std::unique_ptr<unsigned char[]> samples;
    if (!file || !readVolumeHeader(file.get(), &header).empty() ||
        !readVolumeSamples(file.get(), header.size, &samples, -1).empty())
        return {};
    return std::vector<unsigned char>(samples.get(),
                                      samples.get() + volumeSampleBytes(header.size));
}

QImage filledPicture(int width, int height, const QColor& colour, QImage::Format format) {
    QImage picture(width, height, format);
    picture.fill(colour);
    return picture;
}

std::string pngBytes(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes.toStdString();
}

void copyViewerFiles() {
    QDir().mkpath("shaders");
    QDir().mkpath("input");
    for (const char* name : {"shaders/shading.vert", "shaders/shading.frag", "input/bunny.dat"})
        ASSERT_TRUE(QFile::copy(QString::fromStdString(sourceDir()) + "/" + name, name)) << name;
}

std::string fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

std::string typedBytes(SampleType type, const std::vector<double>& values, bool swap) {
    std::string bytes;
    withSampleType(type, [&](auto* kind) {
        for (double value : values) {
            const auto sample =
                static_cast<std::remove_const_t<std::remove_pointer_t<decltype(kind)>>>(value);
            std::string one(reinterpret_cast<const char*>(&sample), sizeof sample);
            if (swap)
                std::reverse(one.begin(), one.end());
            bytes += one;
        }
    });
    return bytes;
}

std::string typedPattern(SampleType type, int w, int h, int d, int channels, bool planar,
                         double slope, double intercept) {
    const int voxels = w * h * d;
    std::vector<double> values;
    for (int i = 0; i < voxels * channels; ++i) {
        const int c = planar ? i / voxels : i % channels, at = planar ? i % voxels : i / channels;
        values.push_back((at % w + 4 * (at / w % h) + 16 * (at / (w * h)) + 64 * c) * slope +
                         intercept);
    }
    return typedBytes(type, values);
}

std::string gzip(const std::string& bytes) {
    QProcess process;
    process.start("gzip", {"-c"});
    process.write(bytes.data(), qint64(bytes.size()));
    process.closeWriteChannel();
    process.waitForFinished();
    return process.readAllStandardOutput().toStdString();
}

std::string describe(const VolumeInfo& i) {
    return formatString("%s: %dx%dx%d %s*%d alpha %d, spacing %g %g %g %s, %s", i.format.c_str(),
                        i.width, i.height, i.depth, sampleTypeName(i.type), i.channels,
                        i.alphaChannel, i.spacing[0], i.spacing[1], i.spacing[2],
                        i.spacingKnown ? "known" : "unknown", describeOrientation(i).c_str());
}

std::string orientedSamples(const VolumeInfo& info, const std::string& samples) {
    EXPECT_TRUE(info.width == info.height && info.height == info.depth);
    const AxisMap map = orientAxes(info.axes).map;
    const std::size_t n = std::size_t(info.width);
    const std::size_t bytes = sampleTypeBytes(info.type) * std::size_t(info.channels);
    std::string turned(samples.size(), '\0');
    for (std::size_t z = 0; z < n; ++z)
        for (std::size_t y = 0; y < n; ++y)
            for (std::size_t x = 0; x < n; ++x) {
                const std::size_t at[3] = {x, y, z};
                std::size_t file[3];
                for (int a = 0; a < 3; ++a)
                    file[map.from[a]] = map.reversed[a] ? n - 1 - at[a] : at[a];
                const std::size_t from = ((file[2] * n + file[1]) * n + file[0]) * bytes;
                turned.replace(((z * n + y) * n + x) * bytes, bytes, samples, from, bytes);
            }
    return turned;
}

std::string readTwice(const TypedSource& source, std::string* samples) {
    const std::size_t slice = std::size_t(sliceBytes(source.info));
    samples->assign(slice * std::size_t(source.info.depth), '\0');
    std::string again(slice, '\0');
    for (int pass = 0; pass < 2; ++pass)
        for (int z = 0; z < source.info.depth; ++z) {
            char* at = pass == 0 ? &(*samples)[slice * std::size_t(z)] : &again[0];
            const std::string failure = source.read(z, at);
            if (!failure.empty())
                return failure;
            if (pass == 1 && samples->compare(slice * std::size_t(z), slice, again) != 0)
                return "second pass differs";
        }
    return std::string();
}

std::string packSamples(const QStringList& inputs, const InputSelection& selection,
                        TypedSource* source) {
    std::string samples;
    std::string failure = openPackInput(inputs, selection, source);
    if (failure.empty())
        failure = readTwice(*source, &samples);
    return failure.empty() ? samples : failure;
}

QString tessaryVol() {
    return TESSARY_VOL;
}

ToolRun runTool(const QStringList& arguments, int memoryLimit) {
    ensureApplication();
    QProcess process;
    const QString limit = QString("ulimit -v %1; exec \"$0\" \"$@\"").arg(memoryLimit);
    if (memoryLimit > 0)
        process.start("bash", QStringList{"-c", limit, TESSARY_VOL} + arguments);
    else
        process.start(TESSARY_VOL, arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

std::string zlibBytes(const std::string& bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
             uLong(bytes.size()));
    out.resize(size);
    return out;
}

QString scriptOutput(const QString& script) {
    static std::map<QString, std::unique_ptr<QTemporaryDir>> written;
    std::unique_ptr<QTemporaryDir>& folder = written[script];
    if (!folder) {
        ensureApplication();
        folder = std::make_unique<QTemporaryDir>();
        QProcess python;
        python.start("/usr/bin/python3",
                     {QString::fromStdString(sourceDir()) + "/tests/" + script, folder->path()});
        python.waitForFinished(120000);
        if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
            std::fprintf(stderr, "%s", python.readAllStandardError().constData());
            folder->remove();
        }
    }
    return QDir(folder->path()).exists() ? folder->path() : QString();
}
