#pragma once

// Slices kept in an unlinked temporary file while one pass reads them, for a second pass to read
// back instead of decoding its input again.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Whether kept slices of `bytes` stay in the page cache, given the memory the system has
// available (-1 when unknown): those that would take a large share of it bypass it.
bool keptInPageCache(std::uint64_t bytes, std::int64_t memory);

class KeptSlices {
public:
    // Null where no file can be made in the temporary folder, or `depth` slices of `sliceBytes`
    // would take more than half its free space. `memory` is what the system has available (-1
    // when unknown), for keptInPageCache.
    static std::shared_ptr<KeptSlices> make(std::uint64_t sliceBytes, int depth,
                                            std::int64_t memory);

    KeptSlices(int fd, bool direct, std::uint64_t sliceBytes);
    ~KeptSlices();
    KeptSlices(const KeptSlices&) = delete;
    KeptSlices& operator=(const KeptSlices&) = delete;

    // Slice z's bytes into the file, or back out of it: false where the file can't take or give
    // them. Safe to call from several threads at once.
    [[nodiscard]] bool write(int z, const void* slice);
    [[nodiscard]] bool read(int z, void* slice);

    // Whether the file bypasses the page cache.
    bool direct() const { return isDirect; }

private:
    struct FreeAligned {
        void operator()(unsigned char* bytes) const;
    };
    using Buffer = std::unique_ptr<unsigned char, FreeAligned>;

    // Whether a slice at that address goes to or from the file as it is, without a buffer.
    bool inPlace(const void* slice) const;
    Buffer takeBuffer();
    void giveBack(Buffer buffer);

    int fd;
    bool isDirect;
    std::uint64_t sliceBytes, slotBytes;
    std::mutex sparesLock;
    std::vector<Buffer> spares; // aligned buffers of slotBytes for direct transfers
};
