#include "rawsamples.h"

#include "checkedsize.h"
#include "inputfile.h"
#include "littleendian.h"
#include "raw.h"
#include "storedsamples.h"
#include "text.h"

#include <sys/stat.h>

#include <memory>

namespace {
std::string describeShape(const RawShape& shape) {
    return formatString("%d x %d x %d %s%s", shape.sizes[0], shape.sizes[1], shape.sizes[2],
                        sampleTypeName(shape.type),
                        shape.channels > 1 ? formatString(" x %d", shape.channels).c_str() : "");
}
} // namespace

std::string openRawShapeSource(const QString& path, const RawShape& shape, TypedSource* source) {
    std::string failure = checkVolumeSizes(shape.sizes[0], shape.sizes[1], shape.sizes[2],
                                           shape.channels, shape.type, nullptr);
    if (!failure.empty())
        return failure;
    std::uint64_t bytes = 0;
    if (!checkedProduct({shape.sizes[0], shape.sizes[1], shape.sizes[2], shape.channels},
                        sampleTypeBytes(shape.type), maxCheckedSize, &bytes) ||
        bytes > maxCheckedSize - shape.offset)
        return "too large: --raw " + describeShape(shape) + " after --offset " +
               std::to_string(shape.offset);
    auto file = std::make_shared<FileHandle>();
    std::uint64_t length = 0;
    failure = openInputWithLength(path, file.get(), &length);
    if (!failure.empty())
        return failure;
    if (length < shape.offset + bytes)
        return formatString("holds %llu bytes: --raw %s needs %llu bytes after --offset %llu, "
                            "%llu in all; check the shape and offset",
                            (unsigned long long)length, describeShape(shape).c_str(),
                            (unsigned long long)bytes, (unsigned long long)shape.offset,
                            (unsigned long long)(shape.offset + bytes));
    VolumeInfo& info = source->info;
    info = VolumeInfo();
    info.format = "raw samples";
    info.width = shape.sizes[0];
    info.height = shape.sizes[1];
    info.depth = shape.sizes[2];
    info.channels = shape.channels;
    info.type = shape.type;
    info.axes.frame = AxisFrame::Array;
    if (length > shape.offset + bytes)
        info.note = formatString("%llu bytes after the samples left out",
                                 (unsigned long long)(length - shape.offset - bytes));
    return openRawSamples(file, off_t(shape.offset), shape.bigEndian == hostIsLittleEndian, source);
}

InputFormat rawShapeInputFormat() {
    return {
        "raw samples (--raw)",
        "raw samples of the shape --raw W,H,D,TYPE,ENDIAN[,CHANNELS] states (any file, whatever\n"
        "      its name; after --offset BYTES, bytes after the samples left out, as Fiji's Import "
        ">\n"
        "      Raw reads them)",
        {}, // taken by --raw alone
        nullptr,
        [](const QString& path, const InputSelection& selection, TypedSource* source) {
            return openRawShapeSource(path, selection.raw, source);
        },
        nullptr,
        {},
        "rawshape"};
}
