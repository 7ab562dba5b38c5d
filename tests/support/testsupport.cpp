#include <GL/glew.h>

#include "testsupport.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QProcess>

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

std::string gzip(const std::string& bytes) {
    QProcess process;
    process.start("gzip", {"-c"});
    process.write(bytes.data(), qint64(bytes.size()));
    process.closeWriteChannel();
    process.waitForFinished();
    return process.readAllStandardOutput().toStdString();
}

std::string zlibBytes(const std::string& bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
             uLong(bytes.size()));
    out.resize(size);
    return out;
}
