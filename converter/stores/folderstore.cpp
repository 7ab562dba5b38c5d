#include "folderstore.h"

#include "inputfile.h"
#include "messages.h"

#include <QString>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0)
            close(fd);
    }
};

std::string keyMessage(const std::string& root, const std::string& key, const std::string& what) {
    return otherFileMessage(QString::fromStdString(root + "/" + key), what);
}
} // namespace

std::string FolderStore::get(const std::string& key, std::uint64_t maxBytes,
                             std::vector<unsigned char>* bytes, bool* missing) {
    if (missing)
        *missing = false;
    if (!isSafeStoreKey(key))
        return otherFileMessage(QString::fromStdString(root_), "unsafe key '" + key + "'");
    // The key's file as the system resolves it, links included, must still be below the root.
    char resolved[PATH_MAX];
    const std::string path = root_ + "/" + key;
    if (!realpath(path.c_str(), resolved)) {
        if ((errno == ENOENT || errno == ENOTDIR) && missing) {
            *missing = true;
            return std::string();
        }
        return keyMessage(root_, key, errno == ENOENT ? "missing" : "can't open");
    }
    const std::string real = resolved;
    if (real.compare(0, root_.size() + 1, root_ + "/") != 0)
        return keyMessage(root_, key, "leads out of the folder");
    FileDescriptor file;
    file.fd = open(resolved, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat status;
    if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return keyMessage(root_, key, "can't open");
    if (std::uint64_t(status.st_size) > maxBytes)
        return keyMessage(root_, key,
                          "too large: " + std::to_string(status.st_size) + " bytes, at most " +
                              std::to_string(maxBytes) + " expected");
    bytes->resize(std::size_t(status.st_size));
    if (!readExactly(file.fd, 0, bytes->size(), bytes->data()))
        return keyMessage(root_, key, "can't read");
    read_ += bytes->size();
    return std::string();
}

std::string openFolderStore(const std::string& path, std::unique_ptr<KeyStore>* store) {
    char resolved[PATH_MAX];
    struct stat status;
    if (!realpath(path.c_str(), resolved) || stat(resolved, &status) != 0 ||
        !S_ISDIR(status.st_mode))
        return otherFileMessage(QString::fromStdString(path), "can't open folder");
    *store = std::make_unique<FolderStore>(resolved);
    return std::string();
}
