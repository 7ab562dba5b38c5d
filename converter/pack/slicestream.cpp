#include "slicestream.h"

#include "text.h"
#include "output.h"
#include "progress.h"
#include "tasks.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

std::string fitToCube(const SliceSource& source, CubeFit fit, const QString& name,
                      SliceSource* cube, const bool (&reversed)[3]) {
    const int w = source.width, h = source.height, d = source.depth;
    if (std::min({w, h, d}) < 1 || std::max({w, h, d}) > maxSide)
        return fileMessage(name,
                           formatString("unsupported size %d x %d x %d: each side must be 1 to %d",
                                        w, h, d, maxSide));
    if (w == h && h == d) {
        *cube = source;
        return std::string();
    }
    if (fit == CubeFit::Refuse)
        return fileMessage(
            name, formatString("not a cube: %d x %d x %d samples (use --crop or --pad)", w, h, d));
    const int n = fit == CubeFit::Crop ? std::min({w, h, d}) : std::max({w, h, d});
    // Along each axis: the first source sample kept, where it lands in the cube, how many.
    struct Span {
        int from, to, count;
    };
    const auto span = [n](int size, bool late) {
        const int spare = std::abs(size - n), first = late ? spare - spare / 2 : spare / 2;
        return Span{size > n ? first : 0, size < n ? first : 0, std::min(size, n)};
    };
    const Span sx = span(w, reversed[0]), sy = span(h, reversed[1]), sz = span(d, reversed[2]);
    cube->width = cube->height = cube->depth = n;
    cube->concurrent = source.concurrent; // each thread reads into a slice of its own
    cube->grey = source.grey;             // black is grey too
    cube->memory = source.memory + 3 * std::uint64_t(w) * std::uint64_t(h) *
                                       std::uint64_t(source.concurrent ? 2 : 1);
    cube->padding.reset();
    if (fit == CubeFit::Pad)
        cube->padding = std::make_shared<const Padding>(Padding{source, {sx.to, sy.to, sz.to}});
    cube->read = [=](int z, unsigned char* rgb) {
        const bool inside = z >= sz.to && z < sz.to + sz.count;
        if (!inside || sx.count < n || sy.count < n) // black around what the source covers
            std::fill(rgb, rgb + 3 * std::size_t(n) * std::size_t(n), 0);
        if (!inside)
            return std::string();
        thread_local std::vector<unsigned char> slice;
        slice.resize(3 * std::size_t(w) * std::size_t(h));
        const std::string failure = source.read(sz.from + z - sz.to, slice.data());
        for (int y = 0; failure.empty() && y < sy.count; ++y)
            std::memcpy(rgb + 3 * (std::size_t(sy.to + y) * std::size_t(n) + std::size_t(sx.to)),
                        slice.data() +
                            3 * (std::size_t(sy.from + y) * std::size_t(w) + std::size_t(sx.from)),
                        3 * std::size_t(sx.count));
        return failure;
    };
    return std::string();
}

namespace {
// Slices read ahead of the one being written: two from a concurrent source.
int slicesAhead(const SliceSource& cube) {
    return cube.concurrent ? 2 : 1;
}

// The slices between the readers and the writer: slice z in buffer z % ring. A reader fills a
// buffer once the writer is done with the slice it held; the writer takes a slice once it is in.
struct SliceRing {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::vector<unsigned char>> buffers;
    std::vector<int> held;                 // the slice in each buffer, or -1
    std::vector<std::string> failures;     // each buffer's read's
    std::vector<std::exception_ptr> threw; // what each buffer's read threw
    int written = 0;                       // slices the writer is done with
    bool stopped = false;                  // once the writer leaves: readers start no more reads

    SliceRing(int ring, std::size_t sliceBytes)
        : buffers(std::size_t(ring), std::vector<unsigned char>(sliceBytes)),
          held(std::size_t(ring), -1), failures(std::size_t(ring)), threw(std::size_t(ring)) {}
    std::size_t at(int z) const { return std::size_t(z) % buffers.size(); }
};

// Reads slices first, first + step, ... into the ring, each once the writer has freed its
// buffer, until the cube ends, a read fails or the ring is stopped. Padding slices are skipped:
// the writer writes them black.
void readSlices(const SliceSource& cube, int first, int step, SliceRing* ring,
                const std::function<bool(int)>& blank) {
    const int count = int(ring->buffers.size());
    for (int z = first; z < cube.depth; z += step) {
        if (blank(z))
            continue;
        {
            std::unique_lock<std::mutex> hold(ring->lock);
            ring->changed.wait(hold, [&] { return ring->stopped || z - ring->written < count; });
            if (ring->stopped)
                return;
        }
        const std::size_t b = ring->at(z);
        std::string failure;
        std::exception_ptr threw;
        try {
            failure = cube.read(z, ring->buffers[b].data());
        } catch (...) {
            threw = std::current_exception();
        }
        const std::lock_guard<std::mutex> hold(ring->lock);
        ring->held[b] = z;
        ring->failures[b] = failure;
        ring->threw[b] = threw;
        ring->changed.notify_all();
        if (!failure.empty() || threw)
            return;
    }
}

// The readers' threads, stopped and joined when the writer leaves, however it leaves.
struct ReaderThreads {
    SliceRing* ring;
    std::vector<std::thread> threads;
    ~ReaderThreads() {
        {
            const std::lock_guard<std::mutex> hold(ring->lock);
            ring->stopped = true;
            ring->changed.notify_all();
        }
        for (std::thread& thread : threads)
            thread.join();
    }
};

// Slice z from the ring once its reader has put it there: the slice, or null with *failure set.
const unsigned char* takeSlice(SliceRing* ring, int z, std::string* failure) {
    std::unique_lock<std::mutex> hold(ring->lock);
    const std::size_t b = ring->at(z);
    ring->changed.wait(hold, [&] { return ring->held[b] == z; });
    if (ring->threw[b])
        std::rethrow_exception(ring->threw[b]);
    *failure = ring->failures[b];
    return failure->empty() ? ring->buffers[b].data() : nullptr;
}
} // namespace

std::string streamSlices(const SliceSource& cube, const SliceSink& sink, const std::string& label) {
    // Reading runs ahead of writing, so a conversion takes about as long as the slower of the
    // two rather than their sum. Decoding pictures is the slow part of packing; a concurrent
    // source decodes two slices at once, one a core on a two-core machine. Each reader goes on
    // from slice to slice by itself: a read handed to another thread for every slice would put
    // two thread wake-ups between one slice and the next.
    const std::size_t sliceBytes = 3 * std::size_t(cube.width) * std::size_t(cube.height);
    const int ahead = slicesAhead(cube);
    SliceRing ring(ahead + 1, sliceBytes);
    const std::function<bool(int)> blank = [&cube](int z) {
        return cube.padding && cube.padding->blankSlice(z);
    };
    const std::vector<unsigned char> black(cube.padding ? sliceBytes : 0, 0);
    ReaderThreads readers{&ring, {}};
    try {
        for (int r = 0; r < ahead && threadsRunBeside(); ++r)
            readers.threads.emplace_back(readSlices, std::cref(cube), r, ahead, &ring,
                                         std::cref(blank));
    } catch (const std::system_error&) {
        // No more threads to be had: the slices of readers not started are read here.
    }
    const int started = int(readers.threads.size());
    Progress progress = startProgress(label, cube.depth);
    std::string failure;
    for (int z = 0; failure.empty() && z < cube.depth; ++z) {
        const unsigned char* slice = black.data();
        if (!blank(z) && z % ahead < started) {
            slice = takeSlice(&ring, z, &failure);
        } else if (!blank(z)) { // its buffer is free: the writer is done with every slice before
            unsigned char* own = ring.buffers[ring.at(z)].data();
            failure = cube.read(z, own);
            slice = own;
        }
        if (failure.empty())
            failure = sink.write(slice);
        {
            const std::lock_guard<std::mutex> hold(ring.lock);
            ring.written = z + 1;
            ring.changed.notify_all();
        }
        advanceProgress(&progress, z + 1);
    }
    finishProgress(&progress);
    return failure.empty() ? sink.commit() : failure;
}

std::uint64_t streamMemory(const SliceSource& cube) {
    const std::uint64_t slice = 3 * std::uint64_t(cube.width) * std::uint64_t(cube.height);
    return cube.memory + slice * std::uint64_t(slicesAhead(cube) + 1 + (cube.padding ? 1 : 0));
}

std::string openFileSink(const QString& path, const std::string& header, int n, SliceSink* sink) {
    const qint64 sliceBytes = 3 * qint64(n) * qint64(n);
    std::string failure = checkOutputPath(path, {});
    if (failure.empty())
        failure = checkFreeSpace(path, header.size() + std::uint64_t(sliceBytes) * unsigned(n));
    if (!failure.empty())
        return failure;
    std::shared_ptr<QTemporaryFile> file = openTemporaryFile(path, &failure);
    if (!file)
        return failure;
    const int descriptor = int(file->handle());
    QString reason = writeBytes(descriptor, header.data(), header.size());
    if (!reason.isEmpty())
        return writeFailure(path, reason);
    sink->write = [file, descriptor, sliceBytes, path](const unsigned char* rgb) {
        const QString reason =
            writeBytes(descriptor, reinterpret_cast<const char*>(rgb), std::size_t(sliceBytes));
        if (!reason.isEmpty())
            return writeFailure(path, reason);
        // The commit syncs the whole file to disk; asking the kernel to start writing each
        // slice now lets that writing overlap the reading of the next slices.
        sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
        return std::string();
    };
    sink->commit = [file, path] { return commitTemporaryFile(file.get(), path); };
    return std::string();
}
