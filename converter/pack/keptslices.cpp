#include "keptslices.h"

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

bool aligned(const void* bytes) {
    return reinterpret_cast<std::uintptr_t>(bytes) % directAlignment == 0;
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

bool KeptSlices::write(int z, const void* slice) {
    const std::uint64_t at = std::uint64_t(z) * slotBytes;
    if (!isDirect || (aligned(slice) && slotBytes == sliceBytes))
        return transfer(at, static_cast<unsigned char*>(const_cast<void*>(slice)), slotBytes, true);
    Buffer buffer = takeBuffer();
    if (!buffer)
        return false;
    std::memcpy(buffer.get(), slice, sliceBytes);
    std::memset(buffer.get() + sliceBytes, 0, slotBytes - sliceBytes);
    const bool written = transfer(at, buffer.get(), slotBytes, true);
    giveBack(std::move(buffer));
    return written;
}

bool KeptSlices::read(int z, void* slice) {
    const std::uint64_t at = std::uint64_t(z) * slotBytes;
    if (!isDirect || (aligned(slice) && slotBytes == sliceBytes))
        return transfer(at, static_cast<unsigned char*>(slice), slotBytes, false);
    Buffer buffer = takeBuffer();
    if (!buffer || !transfer(at, buffer.get(), slotBytes, false))
        return false;
    std::memcpy(slice, buffer.get(), sliceBytes);
    giveBack(std::move(buffer));
    return true;
}

bool KeptSlices::transfer(std::uint64_t at, unsigned char* bytes, std::uint64_t size,
                          bool writing) const {
    for (std::uint64_t done = 0; done < size;) {
        const off_t offset = off_t(at + done);
        const ssize_t n = writing ? ::pwrite(fd, bytes + done, size - done, offset)
                                  : ::pread(fd, bytes + done, size - done, offset);
        if (n <= 0)
            return false;
        done += std::uint64_t(n);
    }
    return true;
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
