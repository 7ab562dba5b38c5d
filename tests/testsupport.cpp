#include <GL/glew.h>

#include "testsupport.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>

#include <sys/stat.h>

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
    QFile::remove(QString::fromStdString(path));
    QDir().rmdir(QString::fromStdString(path));
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    const bool made = kind == NotAFile::Directory ? QDir().mkdir(QString::fromStdString(path))
                                                  : mkfifo(path.c_str(), 0600) == 0;
    ASSERT_TRUE(made) << path;
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
