#include "keptslices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

namespace {
// Bytes of slice z, different in every slice and at every offset.
std::vector<unsigned char> sliceOf(int z, std::size_t bytes) {
    std::vector<unsigned char> slice(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        slice[i] = static_cast<unsigned char>((i * 7 + std::size_t(z) * 131) >> 1);
    return slice;
}
} // namespace

// Both ways of keeping (through the page cache, and straight to the disk where the file system
// allows it) give back each slice as it was written: slices of no whole number of blocks, from
// and into buffers at any address, written out of order and read back by two threads at once.
TEST(KeptSlices, EverySliceComesBackAsWrittenWhateverItsSizeAndAddress) {
    for (const std::int64_t memory : {std::int64_t(-1), std::int64_t(0)}) {
        for (const std::size_t bytes : {std::size_t(1), std::size_t(4096), std::size_t(5001)}) {
            SCOPED_TRACE(testing::Message() << "memory " << memory << ", slices of " << bytes);
            const int depth = 6;
            const std::shared_ptr<KeptSlices> kept = KeptSlices::make(bytes, depth, memory);
            ASSERT_TRUE(kept);
            if (memory < 0) {
                EXPECT_FALSE(kept->direct()); // unknown memory: the page cache
            }
            std::vector<unsigned char> unaligned(bytes + 1);
            for (const int z : {3, 0, 5, 1, 4, 2}) {
                const std::vector<unsigned char> slice = sliceOf(z, bytes);
                std::copy(slice.begin(), slice.end(), unaligned.begin() + 1);
                ASSERT_TRUE(kept->write(z, z % 2 ? unaligned.data() + 1 : slice.data()));
            }
            std::vector<std::vector<unsigned char>> back(depth);
            const auto readEvery = [&](int first) {
                for (int z = first; z < depth; z += 2) {
                    std::vector<unsigned char> into(bytes + 1);
                    if (kept->read(z, into.data() + (z % 3 ? 1 : 0)))
                        back[std::size_t(z)].assign(into.begin() + (z % 3 ? 1 : 0),
                                                    into.begin() + (z % 3 ? 1 : 0) +
                                                        std::ptrdiff_t(bytes));
                }
            };
            std::thread other(readEvery, 1);
            readEvery(0);
            other.join();
            for (int z = 0; z < depth; ++z)
                EXPECT_EQ(back[std::size_t(z)], sliceOf(z, bytes)) << "slice " << z;
        }
    }
}

// A slice past those written reads back as nothing, for the source to be read instead.
TEST(KeptSlices, ASlicePastThoseWrittenIsNotReadBack) {
    for (const std::int64_t memory : {std::int64_t(-1), std::int64_t(0)}) {
        const std::shared_ptr<KeptSlices> kept = KeptSlices::make(5001, 3, memory);
        ASSERT_TRUE(kept);
        ASSERT_TRUE(kept->write(0, sliceOf(0, 5001).data()));
        std::vector<unsigned char> into(5001);
        EXPECT_FALSE(kept->read(2, into.data())) << "memory " << memory;
    }
}
