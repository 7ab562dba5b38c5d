#include "inputfile.h"

#include "messages.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

std::string openInputFile(const QString& path, FileHandle* file) {
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    return *file ? std::string() : fileMessage(path, inputMessages::cantOpen);
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
