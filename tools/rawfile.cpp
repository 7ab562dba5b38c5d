#include "rawfile.h"

#include "inputfile.h"
#include "volumefile.h"
#include "output.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

std::uint64_t typedSliceBytes(const VolumeInfo& info) {
    std::uint64_t bytes = 0;
    if (info.width < 1 || info.height < 1 || info.channels < 1 ||
        __builtin_mul_overflow(std::uint64_t(info.width), std::uint64_t(info.height), &bytes) ||
        __builtin_mul_overflow(bytes, std::uint64_t(info.channels), &bytes) ||
        __builtin_mul_overflow(bytes, std::uint64_t(sampleTypeBytes(info.type)), &bytes))
        return 0;
    return bytes;
}

std::string checkVolumeSizes(const VolumeInfo& info) {
    const std::string sizes =
        formatString("%d x %d x %d samples of %d channel%s", info.width, info.height, info.depth,
                     info.channels, info.channels == 1 ? "" : "s");
    if (std::min({info.width, info.height, info.depth, info.channels}) < 1)
        return "bad size: " + sizes;
    const std::uint64_t slice = typedSliceBytes(info);
    std::uint64_t total = 0;
    if (slice == 0 || __builtin_mul_overflow(slice, std::uint64_t(info.depth), &total) ||
        total > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return "too large: " + sizes;
    // Converting holds a few slices at once (read ahead, converted, written), never the volume.
    const std::int64_t available = availableMemory();
    if (available >= 0 && slice > std::uint64_t(available) / 8)
        return formatString("too large: %s; a slice takes %.1f MB, this machine has %.1f MB "
                            "available",
                            sizes.c_str(), double(slice) / 1e6, double(available) / 1e6);
    return std::string();
}

void guardReads(const QString& path, TypedSource* source) {
    source->read = [read = std::move(source->read), path](int z, void* samples) {
        try {
            return read(z, samples);
        } catch (const std::bad_alloc&) {
            return fileMessage(path, "out of memory");
        } catch (const std::exception& error) {
            return fileMessage(path, std::string("can't read: ") + error.what());
        }
    };
}

void swapSampleBytes(void* samples, std::size_t count, std::size_t bytes) {
    auto* p = static_cast<unsigned char*>(samples);
    for (std::size_t i = 0; i < count; ++i, p += bytes)
        std::reverse(p, p + bytes);
}

std::string openRawSamples(const QString& path, std::shared_ptr<FileHandle> file, off_t offset,
                           bool swap, TypedSource* source) {
    const VolumeInfo& info = source->info;
    std::string failure = checkVolumeSizes(info);
    if (!failure.empty())
        return fileMessage(path, failure);
    const std::uint64_t sliceBytes = typedSliceBytes(info);
    const std::string truncated = fileMessage(path, volumeMessages::truncated);
    if (fseeko(file->get(), offset, SEEK_SET) != 0)
        return truncated;
    const long available = remainingBytes(file->get());
    if (available < 0 || std::uint64_t(available) / sliceBytes < std::uint64_t(info.depth))
        return truncated;
    const std::size_t bytes = sampleTypeBytes(info.type);
    const std::size_t count = std::size_t(sliceBytes / bytes);
    source->read = [=](int z, void* samples) {
        if (fseeko(file->get(), offset + off_t(z) * off_t(sliceBytes), SEEK_SET) != 0 ||
            std::fread(samples, 1, std::size_t(sliceBytes), file->get()) != sliceBytes)
            return truncated; // the file shrank since it was checked
        if (swap)
            swapSampleBytes(samples, count, bytes);
        return std::string();
    };
    guardReads(path, source);
    return std::string();
}

std::string openRawVolume(const QString& path, TypedSource* source) {
    auto file = std::make_shared<FileHandle>();
    const std::string failure = openInputFile(path, file.get());
    if (!failure.empty())
        return failure;
    const long length = remainingBytes(file->get());
    if (length < 0)
        return fileMessage(path, inputMessages::cantOpen);
    const auto bytesOf = [](long long n) { return 3 * n * n * n; };
    long long n = std::max(1LL, std::llround(std::cbrt(double(length) / 3)));
    while (n > 1 && bytesOf(n) > length)
        --n;
    while (bytesOf(n + 1) <= length)
        ++n;
    if (bytesOf(n) != length)
        return fileMessage(
            path, formatString("holds %ld bytes, not 3 * N^3 for any N: N = %lld takes %lld "
                               "bytes, N = %lld takes %lld",
                               length, n, bytesOf(n), n + 1, bytesOf(n + 1)));
    source->info = VolumeInfo();
    source->info.format = "raw RGB";
    source->info.width = source->info.height = source->info.depth = int(n);
    source->info.channels = 3;
    return openRawSamples(path, file, 0, false, source);
}
