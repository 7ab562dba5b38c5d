#include "inputfile.h"

#include "messages.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// The system's reason for error, as a user reads it.
std::string errorWords(int error) {
    switch (error) {
    case ENOENT:
        return "no such file";
    case ENOTDIR:
        return "no such file (a part of its path is not a folder)";
    case EACCES:
    case EPERM:
        return "permission denied";
    default:
        return QString::fromLocal8Bit(std::strerror(error)).toLower().toStdString();
    }
}
} // namespace

std::string cantOpenReason(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const std::string prefix = std::string(inputMessages::cantOpen) + ": ";
    struct stat status;
    if (stat(name.constData(), &status) != 0)
        return prefix + errorWords(errno);
    if (!S_ISREG(status.st_mode))
        return prefix + (S_ISDIR(status.st_mode) ? "a folder" : "not a regular file");
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return prefix + errorWords(errno);
    ::close(fd);
    return inputMessages::cantOpen; // it opens now
}

std::string openInputFile(const QString& path, FileHandle* file) {
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    return *file ? std::string() : fileMessage(path, cantOpenReason(path));
}

bool readExactly(int fd, std::uint64_t offset, std::size_t length, void* out) {
    unsigned char* bytes = static_cast<unsigned char*>(out);
    while (length > 0) {
        const ssize_t got = pread(fd, bytes, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        offset += std::uint64_t(got);
        length -= std::size_t(got);
    }
    return true;
}

bool writeExactly(int fd, std::uint64_t offset, std::size_t length, const void* in) {
    const unsigned char* bytes = static_cast<const unsigned char*>(in);
    while (length > 0) {
        const ssize_t put = pwrite(fd, bytes, length, off_t(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        offset += std::uint64_t(put);
        length -= std::size_t(put);
    }
    return true;
}

std::string checkFileInFolder(const QString& folder, const QString& path, QString* canonical) {
    const QFileInfo file(path);
    *canonical = file.canonicalFilePath();
    if (canonical->isEmpty())
        return "can't open: no such file";
    if (!canonical->startsWith(QFileInfo(folder).canonicalFilePath() + '/'))
        return "it lies outside the folder of the file that names it";
    if (!QFileInfo(*canonical).isFile())
        return "can't open: not a regular file";
    return std::string();
}

std::string openInputWithLength(const QString& path, FileHandle* file, std::uint64_t* length) {
    struct stat status;
    if (!openInputFile(path, file).empty() || fstat(fileno(file->get()), &status) != 0)
        return cantOpenReason(path);
    *length = std::uint64_t(status.st_size);
    return std::string();
}
