#include "keptslices.h"

#include "inputfile.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
// The alignment of a direct transfer's buffer, offset and length: a page, which covers every
// logical block size in use.
const std::uint64_t directAlignment = 4096;

// Slices past this share of the available memory bypass the page cache.
const std::uint64_t cachedMemoryShare = 16;

std::uint64_t alignedUp(std::uint64_t bytes) {
    return (bytes + directAlignment - 1) / directAlignment * directAlignment;
}
} // namespace

// Slices that would take a large share of the memory go straight to the disk: the pass reads
// them back once, in order, so caching them would only evict what others cache, and on a
// machine whose fresh pages are costly the kernel's copies into the cache cost more than the
// pass's decoding. Smaller ones stay in the page cache, where they are read back fastest.
bool keptInPageCache(std::uint64_t bytes, std::int64_t memory) {
    return memory < 0 || bytes <= std::uint64_t(memory) / cachedMemoryShare;
}

std::shared_ptr<KeptSlices> KeptSlices::make(std::uint64_t sliceBytes, int depth,
                                             std::int64_t memory) {
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    const std::uint64_t bytes = alignedUp(sliceBytes) * std::uint64_t(depth);
    struct statvfs space;
    if (statvfs(folder.constData(), &space) != 0 ||
        bytes > std::uint64_t(space.f_bavail) * space.f_frsize / 2)
        return nullptr;
    const int flags = O_TMPFILE | O_RDWR | O_CLOEXEC;
    int fd = -1;
    if (!keptInPageCache(bytes, memory))
        fd = ::open(folder.constData(), flags | O_DIRECT, 0600); // tmpfs, for one, refuses it
    const bool direct = fd >= 0;
    if (!direct)
        fd = ::open(folder.constData(), flags, 0600);
    return fd < 0 ? nullptr : std::make_shared<KeptSlices>(fd, direct, sliceBytes);
}

KeptSlices::KeptSlices(int fd, bool direct, std::uint64_t sliceBytes)
    : fd(fd), isDirect(direct), sliceBytes(sliceBytes),
      slotBytes(direct ? alignedUp(sliceBytes) : sliceBytes) {}

KeptSlices::~KeptSlices() {
    ::close(fd);
}

void KeptSlices::FreeAligned::operator()(unsigned char* bytes) const {
    std::free(bytes);
}

bool KeptSlices::inPlace(const void* slice) const {
    return !isDirect || (reinterpret_cast<std::uintptr_t>(slice) % directAlignment == 0 &&
                         slotBytes == sliceBytes);
}

bool KeptSlices::write(int z, const void* slice) {
    const std::uint64_t at = std::uint64_t(z) * slotBytes;
    if (inPlace(slice))
        return writeExactly(fd, at, slotBytes, slice);
    Buffer buffer = takeBuffer();
    if (!buffer)
        return false;
    std::memcpy(buffer.get(), slice, sliceBytes);
    std::memset(buffer.get() + sliceBytes, 0, slotBytes - sliceBytes);
    const bool written = writeExactly(fd, at, slotBytes, buffer.get());
    giveBack(std::move(buffer));
    return written;
}

bool KeptSlices::read(int z, void* slice) {
    const std::uint64_t at = std::uint64_t(z) * slotBytes;
    if (inPlace(slice))
        return readExactly(fd, at, slotBytes, slice);
    Buffer buffer = takeBuffer();
    const bool read = buffer && readExactly(fd, at, slotBytes, buffer.get());
    if (read)
        std::memcpy(slice, buffer.get(), sliceBytes);
    if (buffer)
        giveBack(std::move(buffer));
    return read;
}

KeptSlices::Buffer KeptSlices::takeBuffer() {
    {
        std::lock_guard<std::mutex> hold(sparesLock);
        if (!spares.empty()) {
            Buffer buffer = std::move(spares.back());
            spares.pop_back();
            return buffer;
        }
    }
    return Buffer(static_cast<unsigned char*>(std::aligned_alloc(directAlignment, slotBytes)));
}

void KeptSlices::giveBack(Buffer buffer) {
    std::lock_guard<std::mutex> hold(sparesLock);
    spares.push_back(std::move(buffer));
}
