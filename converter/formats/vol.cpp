#include "vol.h"

#include "files.h"
#include "messages.h"
#include "samplemap.h"

#include <QFile>

#include <cstdio>
#include <memory>
#include <vector>

std::string openVolumeSource(const QString& path, SliceSource* source, VolumeHeader* header) {
    auto file = std::make_shared<FileHandle>();
    // No GL step, and no memory check: a stream holds a few slices, never the volume.
    const std::string failure =
        checkVolumeFile(QFile::encodeName(path).constData(), nullptr, -1, file.get(), header);
    if (!failure.empty())
        return failure;
    const int n = header->size;
    const std::size_t sliceBytes = 3 * std::size_t(n) * std::size_t(n);
    source->width = source->height = source->depth = n;
    source->read = [file, sliceBytes](int z, unsigned char* rgb) {
        const off_t offset = volumeLayout::headerSize + off_t(z) * off_t(sliceBytes);
        // The length was checked; failing here means the file shrank meanwhile.
        if (fseeko(file->get(), offset, SEEK_SET) != 0 ||
            std::fread(rgb, 1, sliceBytes, file->get()) != sliceBytes)
            return std::string(volumeMessages::truncated);
        return std::string();
    };
    return std::string();
}

std::string openVolumeSink(const QString& path, const VolumeHeader& header, SliceSink* sink) {
    const std::vector<unsigned char> bytes = encodeVolumeHeader(header);
    VolumeHeader parsed;
    const std::string failure = parseVolumeHeader(bytes.data(), bytes.size(), &parsed);
    if (!failure.empty())
        return fileMessage(path, failure);
    return openFileSink(path, std::string(bytes.begin(), bytes.end()), header.size, sink);
}

bool isUsableVolumeName(const QString& name) {
    const QByteArray bytes = name.toLocal8Bit();
    return !bytes.isEmpty() && bytes.size() < volumeLayout::nameLength && !bytes.contains('\0') &&
           isSafePictureName(bytes.toStdString());
}

namespace {
// A .vol is already RGB bytes; packing it again resizes it.
std::string openVolumeInput(const QString& path, const InputSelection&, TypedSource* source) {
    SliceSource slices;
    VolumeHeader header;
    const std::string failure = openVolumeSource(path, &slices, &header);
    if (failure.empty())
        *source = typedFromRgb(slices, "Tessary volume");
    source->info.axes.frame = AxisFrame::Viewer;
    return failure;
}
} // namespace

InputFormat volumeInputFormat() {
    return {".vol",
            "a volume (.vol), to resize it with --size",
            {"vol"},
            [](const std::string& start) {
                return hasVolumeMagic(reinterpret_cast<const unsigned char*>(start.data()),
                                      start.size());
            },
            openVolumeInput,
            nullptr,
            {},
            "volume",
            nullptr,
            picksNone,
            // Its magic tells it from the other formats that end in .vol.
            {{"application/x-tessary-volume",
              "Tessary volume",
              {"vol"},
              nullptr,
              volumeLayout::magic,
              volumeLayout::magicOffset}}};
}
