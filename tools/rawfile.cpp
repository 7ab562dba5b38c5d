#include "rawfile.h"

#include "inputfile.h"
#include "output.h"

#include <QFile>

#include <cstdio>
#include <vector>

std::string openRawSamples(const QString& path, std::shared_ptr<FileHandle> file, off_t offset,
                           int width, int height, int depth, int channels, SliceSource* source) {
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    const std::size_t sliceBytes = pixels * std::size_t(channels);
    const std::string truncated = fileMessage(path, volumeMessages::truncated);
    if (fseeko(file->get(), offset, SEEK_SET) != 0)
        return truncated;
    const long available = remainingBytes(file->get());
    if (available < 0 ||
        std::uint64_t(available) < std::uint64_t(sliceBytes) * std::uint64_t(depth))
        return truncated;
    auto buffer = std::make_shared<std::vector<unsigned char>>(channels == 3 ? 0 : sliceBytes);
    source->width = width;
    source->height = height;
    source->depth = depth;
    source->read = [=](int z, unsigned char* rgb) {
        unsigned char* into = channels == 3 ? rgb : buffer->data();
        if (fseeko(file->get(), offset + off_t(z) * off_t(sliceBytes), SEEK_SET) != 0 ||
            std::fread(into, 1, sliceBytes, file->get()) != sliceBytes)
            return truncated;
        expandToRgb(into, channels, pixels, rgb);
        return std::string();
    };
    return std::string();
}

std::string openRawVolume(const QString& path, int n, SliceSource* source) {
    auto file = std::make_shared<FileHandle>();
    const std::string failure = openInputFile(path, file.get());
    if (!failure.empty())
        return failure;
    const long length = remainingBytes(file->get());
    const std::uint64_t expected = volumeSampleBytes(n);
    if (length < 0 || std::uint64_t(length) != expected)
        return fileMessage(path,
                           formatString("holds %ld bytes; RGB samples of size %d take %llu", length,
                                        n, static_cast<unsigned long long>(expected)));
    return openRawSamples(path, file, 0, n, n, n, 3, source);
}
