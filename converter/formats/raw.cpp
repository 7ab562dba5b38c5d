#include "raw.h"

#include "inputfile.h"
#include "volumefile.h"
#include "messages.h"
#include "text.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

std::string openRawSamples(std::shared_ptr<FileHandle> file, off_t offset, bool swap,
                           TypedSource* source) {
    const VolumeInfo& info = source->info;
    // Checked here as well as at the door: the length check below divides by a slice's bytes.
    std::string failure = checkVolumeSizes(info);
    if (!failure.empty())
        return failure;
    const std::uint64_t sliceBytes = ::sliceBytes(info);
    const std::string truncated = volumeMessages::truncated;
    if (fseeko(file->get(), offset, SEEK_SET) != 0)
        return truncated;
    const long available = remainingBytes(file->get());
    if (available < 0 || std::uint64_t(available) / sliceBytes < std::uint64_t(info.depth))
        return truncated;
    StoredSamples stored;
    stored.type = info.type;
    stored.swapped = swap;
    readThrough(
        stored,
        [=](int z, void* samples) {
            if (fseeko(file->get(), offset + off_t(z) * off_t(sliceBytes), SEEK_SET) != 0 ||
                std::fread(samples, 1, std::size_t(sliceBytes), file->get()) != sliceBytes)
                return std::string(volumeMessages::truncated); // the file shrank since checked
            return std::string();
        },
        source);
    return std::string();
}

std::string openRawVolume(const QString& path, TypedSource* source) {
    auto file = std::make_shared<FileHandle>();
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    if (!*file)
        return cantOpenReason(path);
    const long length = remainingBytes(file->get());
    if (length < 0)
        return inputMessages::cantOpen;
    const auto bytesOf = [](long long n) { return 3 * n * n * n; };
    long long n = std::max(1LL, std::llround(std::cbrt(double(length) / 3)));
    while (n > 1 && bytesOf(n) > length)
        --n;
    while (bytesOf(n + 1) <= length)
        ++n;
    if (bytesOf(n) != length)
        return formatString("holds %ld bytes, not 3 * N^3 for any N: N = %lld takes %lld "
                            "bytes, N = %lld takes %lld",
                            length, n, bytesOf(n), n + 1, bytesOf(n + 1));
    source->info = VolumeInfo();
    source->info.format = "raw RGB";
    source->info.width = source->info.height = source->info.depth = int(n);
    source->info.channels = 3;
    source->info.axes.frame = AxisFrame::Viewer; // the .vol's samples without the header
    return openRawSamples(file, 0, false, source);
}

InputFormat rawVolumeInputFormat() {
    return {"raw RGB bytes",
            "raw RGB bytes (.raw; 3 * N^3 bytes, x fastest, then y, then z)",
            {"raw"},
            nullptr, // any bytes
            [](const QString& path, const InputSelection&, TypedSource* source) {
                return openRawVolume(path, source);
            },
            nullptr,
            {},
            "rawvolume"};
}
