#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string inputPath(const std::string& name) {
    return std::string(inputFolder) + "/" + name;
}

int openRegularFile(const char* path, struct stat* status) {
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting forever; the type is
    // then checked on the open descriptor, so nothing can swap the file in between.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (status)
        *status = info;
    return fd;
}

FileHandle openFile(const char* path, const char* mode) {
    if (mode[0] != 'r')
        return FileHandle(std::fopen(path, mode));
    const int fd = openRegularFile(path);
    if (fd < 0)
        return FileHandle();
    std::FILE* file = nullptr;
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        file = fdopen(fd, mode);
    if (!file)
        ::close(fd);
    return FileHandle(file);
}

long remainingBytes(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end - here;
}
