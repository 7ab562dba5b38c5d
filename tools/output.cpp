#include "output.h"

#include "helpers.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Where temporaries of path go: its own folder, named after it and hidden.
QString temporaryTemplate(const QString& path) {
    const QFileInfo info(path);
    return info.absolutePath() + "/." + info.fileName() + ".XXXXXX";
}

// Gives a finished temporary the permissions a new file or folder gets (Qt makes temporaries
// that only their owner may read), then renames it onto path.
std::string publish(const QString& from, mode_t mode, const QString& path) {
    const QByteArray name = QFile::encodeName(from);
    if (chmod(name.constData(), mode & ~currentUmask()) != 0 ||
        std::rename(name.constData(), QFile::encodeName(path).constData()) != 0)
        return writeFailure(path, QString::fromLocal8Bit(std::strerror(errno)));
    return std::string();
}
} // namespace

std::string fileMessage(const QString& path, const std::string& message) {
    return printableText(path.toStdString() + ": " + message);
}

std::string writeFailure(const QString& path, const QString& reason) {
    return fileMessage(path, "can't write: " + reason.toStdString());
}

std::string saveWholeFile(const QString& path, const char* bytes, qint64 size) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes, size) != size)
        return writeFailure(path, file.errorString());
    return commitSaveFile(&file, path);
}

std::string commitSaveFile(QSaveFile* file, const QString& path) {
    if (file->error() != QFileDevice::NoError || !file->commit())
        return writeFailure(path, file->errorString());
    return std::string();
}

std::unique_ptr<QTemporaryFile> openTemporaryFile(const QString& path, std::string* failure) {
    auto file = std::make_unique<QTemporaryFile>(temporaryTemplate(path));
    if (!file->open()) {
        *failure = writeFailure(path, file->errorString());
        return nullptr;
    }
    return file;
}

std::string commitTemporaryFile(QTemporaryFile* file, const QString& path) {
    file->close();
    const std::string failure = publish(file->fileName(), 0666, path);
    if (failure.empty())
        file->setAutoRemove(false);
    return failure;
}

std::unique_ptr<QTemporaryDir> makeTemporaryFolder(const QString& path, std::string* failure) {
    const QFileInfo info(path);
    if (info.exists() && !(info.isDir() && QDir(path).isEmpty())) {
        *failure = writeFailure(path, "exists and is not an empty folder");
        return nullptr;
    }
    auto folder = std::make_unique<QTemporaryDir>(temporaryTemplate(path));
    if (!folder->isValid()) {
        *failure = writeFailure(path, folder->errorString());
        return nullptr;
    }
    return folder;
}

std::string commitTemporaryFolder(QTemporaryDir* folder, const QString& path) {
    const std::string failure = publish(folder->path(), 0777, path);
    if (failure.empty())
        folder->setAutoRemove(false);
    return failure;
}
