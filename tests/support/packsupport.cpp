#include "packsupport.h"

#include "orientation.h"
#include "storedsamples.h"

#include <algorithm>

std::string typedBytes(SampleType type, const std::vector<double>& values, bool swap) {
    std::string bytes;
    withSampleType(type, [&](auto* kind) {
        for (double value : values) {
            const auto sample =
                static_cast<std::remove_const_t<std::remove_pointer_t<decltype(kind)>>>(value);
            std::string one(reinterpret_cast<const char*>(&sample), sizeof sample);
            if (swap)
                std::reverse(one.begin(), one.end());
            bytes += one;
        }
    });
    return bytes;
}

std::string typedPattern(SampleType type, int w, int h, int d, int channels, bool planar,
                         double slope, double intercept) {
    const int voxels = w * h * d;
    std::vector<double> values;
    for (int i = 0; i < voxels * channels; ++i) {
        const int c = planar ? i / voxels : i % channels, at = planar ? i % voxels : i / channels;
        values.push_back((at % w + 4 * (at / w % h) + 16 * (at / (w * h)) + 64 * c) * slope +
                         intercept);
    }
    return typedBytes(type, values);
}

std::string describe(const VolumeInfo& i) {
    return formatString("%s: %dx%dx%d %s*%d alpha %d, spacing %g %g %g %s, %s", i.format.c_str(),
                        i.width, i.height, i.depth, sampleTypeName(i.type), i.channels,
                        i.alphaChannel, i.spacing[0], i.spacing[1], i.spacing[2],
                        i.spacingKnown ? "known" : "unknown", describeOrientation(i).c_str());
}

std::string orientedSamples(const VolumeInfo& info, const std::string& samples) {
    EXPECT_TRUE(info.width == info.height && info.height == info.depth);
    const AxisMap map = orientAxes(info.axes).map;
    const std::size_t n = std::size_t(info.width);
    const std::size_t bytes = sampleTypeBytes(info.type) * std::size_t(info.channels);
    std::string turned(samples.size(), '\0');
    for (std::size_t z = 0; z < n; ++z)
        for (std::size_t y = 0; y < n; ++y)
            for (std::size_t x = 0; x < n; ++x) {
                const std::size_t at[3] = {x, y, z};
                std::size_t file[3];
                for (int a = 0; a < 3; ++a)
                    file[map.from[a]] = map.reversed[a] ? n - 1 - at[a] : at[a];
                const std::size_t from = ((file[2] * n + file[1]) * n + file[0]) * bytes;
                turned.replace(((z * n + y) * n + x) * bytes, bytes, samples, from, bytes);
            }
    return turned;
}

std::string readTwice(const TypedSource& source, std::string* samples) {
    const std::size_t slice = std::size_t(sliceBytes(source.info));
    samples->assign(slice * std::size_t(source.info.depth), '\0');
    std::string again(slice, '\0');
    for (int pass = 0; pass < 2; ++pass)
        for (int z = 0; z < source.info.depth; ++z) {
            char* at = pass == 0 ? &(*samples)[slice * std::size_t(z)] : &again[0];
            const std::string failure = source.read(z, at);
            if (!failure.empty())
                return failure;
            if (pass == 1 && samples->compare(slice * std::size_t(z), slice, again) != 0)
                return "second pass differs";
        }
    return std::string();
}
