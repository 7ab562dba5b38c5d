#include "modelio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
// The canonical path of an existing file or folder; "" when it cannot be resolved.
std::string canonical(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// Where an open descriptor's file is, as the kernel resolved it when opening.
std::string pathOfDescriptor(int fd) {
    char link[64], target[PATH_MAX + 1];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, PATH_MAX);
    return length > 0 ? std::string(target, std::size_t(length)) : std::string();
}

// Whether path names an OBJ's material library.
bool isMaterialLibrary(const char* path) {
    const std::string name = path;
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".mtl") == 0;
}

// A read-only stream over a descriptor, closed with the stream.
class DescriptorStream : public Assimp::IOStream {
public:
    explicit DescriptorStream(int fd) : fd(fd) {}
    ~DescriptorStream() override { ::close(fd); }
    size_t Read(void* buffer, size_t size, size_t count) override {
        if (size == 0 || count > SIZE_MAX / size)
            return 0;
        char* out = static_cast<char*>(buffer);
        size_t done = 0;
        while (done < size * count) {
            const ssize_t got = ::read(fd, out + done, size * count - done);
            if (got <= 0)
                break;
            done += size_t(got);
        }
        // Assimp expects whole elements; a partial one is left unread by seeking back.
        if (done % size)
            ::lseek(fd, -off_t(done % size), SEEK_CUR);
        return done / size;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        const int whence = origin == aiOrigin_SET   ? SEEK_SET
                           : origin == aiOrigin_CUR ? SEEK_CUR
                                                    : SEEK_END;
        // Assimp passes negative offsets from the end or the position as wrapped size_t.
        return ::lseek(fd, off_t(offset), whence) < 0 ? aiReturn_FAILURE : aiReturn_SUCCESS;
    }
    size_t Tell() const override {
        const off_t here = ::lseek(fd, 0, SEEK_CUR);
        return here < 0 ? 0 : size_t(here);
    }
    size_t FileSize() const override {
        struct stat info;
        return fstat(fd, &info) == 0 ? size_t(info.st_size) : 0;
    }
    void Flush() override {}

private:
    int fd;
};
} // namespace

ModelFolderIO::ModelFolderIO(const std::string& modelPath) {
    const std::string::size_type slash = modelPath.rfind('/');
    folder = canonical(slash == std::string::npos ? "." : modelPath.substr(0, slash + 1));
    model = canonical(modelPath);
}

int ModelFolderIO::openConfined(const char* path, std::string* reason) const {
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; the type and the place
    // are then checked on the open descriptor, so nothing can be swapped in between.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    const std::string where = pathOfDescriptor(fd);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        *reason = std::string("names ") + path + ", which is not a regular file";
    else if (folder.empty() || where.empty() ||
             (where != model && where.compare(0, folder.size() + 1, folder + "/") != 0))
        *reason = std::string("names ") + path + ", outside the model's folder";
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        return fd;
    ::close(fd);
    return -1;
}

bool ModelFolderIO::Exists(const char* path) const {
    std::string reason;
    const int fd = openConfined(path, &reason);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

Assimp::IOStream* ModelFolderIO::Open(const char* path, const char* mode) {
    if (std::string(mode).find_first_of("wa+") != std::string::npos)
        return nullptr;
    const bool library = isMaterialLibrary(path);
    if (library && withholding)
        return nullptr;
    std::string reason;
    const int fd = openConfined(path, &reason);
    if (fd < 0 && !reason.empty())
        refusals.push_back(reason);
    if (fd >= 0)
        sinceOpened = refusals.size();
    materialLibraryOpened = materialLibraryOpened || (library && fd >= 0);
    return fd < 0 ? nullptr : new DescriptorStream(fd);
}

std::string ModelFolderIO::forgiveLatestRefusals() {
    if (sinceOpened >= refusals.size())
        return std::string();
    const std::string first = refusals[sinceOpened];
    refusals.resize(sinceOpened);
    return first;
}

void ModelFolderIO::Close(Assimp::IOStream* stream) {
    delete stream;
}
