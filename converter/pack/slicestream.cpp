#include "slicestream.h"

#include "text.h"
#include "output.h"
#include "progress.h"
#include "tasks.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

std::string fitToCube(const SliceSource& source, CubeFit fit, const QString& name,
                      SliceSource* cube) {
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
    const auto span = [n](int size) {
        return Span{std::max(0, (size - n) / 2), std::max(0, (n - size) / 2), std::min(size, n)};
    };
    const Span sx = span(w), sy = span(h), sz = span(d);
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
} // namespace

std::string streamSlices(const SliceSource& cube, const SliceSink& sink, const std::string& label) {
    // Reading runs ahead of writing, so a conversion takes about as long as the slower of the
    // two rather than their sum. Decoding pictures is the slow part of packing; a concurrent
    // source decodes two slices at once, one a core on a two-core machine.
    const std::size_t sliceBytes = 3 * std::size_t(cube.width) * std::size_t(cube.height);
    const int ahead = slicesAhead(cube);
    const int ring = ahead + 1; // slice z is in buffer z % ring
    std::vector<std::vector<unsigned char>> slices(ring, std::vector<unsigned char>(sliceBytes));
    std::vector<Task<std::string>> reads(ring);
    const auto blank = [&cube](int z) { return cube.padding && cube.padding->blankSlice(z); };
    const std::vector<unsigned char> black(cube.padding ? sliceBytes : 0, 0);
    const auto startRead = [&](int z) {
        if (z < cube.depth && !blank(z))
            reads[z % ring] = startTask(std::cref(cube.read), z, slices[z % ring].data());
    };
    for (int z = 0; z < ahead; ++z)
        startRead(z);
    Progress progress = startProgress(label, cube.depth);
    std::string failure;
    for (int z = 0; failure.empty() && z < cube.depth; ++z) {
        failure = blank(z) ? std::string() : reads[z % ring].get();
        if (failure.empty()) {
            startRead(z + ahead); // into the buffer written before this one
            failure = sink.write(blank(z) ? black.data() : slices[z % ring].data());
        }
        advanceProgress(&progress, z + 1);
    }
    for (Task<std::string>& read : reads)
        if (read.valid()) // a failure stopped the loop while reads were under way
            read.wait();
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
