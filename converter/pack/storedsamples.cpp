#include "storedsamples.h"

#include "systemmemory.h"
#include "text.h"

#include <QtEndian>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace {
// A slice may use at most this share of the available memory: a few are held at once.
const std::int64_t sliceMemoryShare = 8;
const std::int64_t maxChannels = 64;

template <typename T>
void rescale(const T* in, std::size_t count, double slope, double intercept, SampleType to,
             void* out) {
    if (to == SampleType::Float64) {
        // Read all values before writing any, so equal-size in-place use stays correct.
        double* values = static_cast<double*>(out);
        for (std::size_t i = 0; i < count; ++i)
            values[i] = double(in[i]) * slope + intercept;
    } else {
        float* values = static_cast<float*>(out);
        for (std::size_t i = 0; i < count; ++i)
            values[i] = float(double(in[i]) * slope + intercept);
    }
}
} // namespace

std::string checkVolumeSizes(std::int64_t width, std::int64_t height, std::int64_t depth,
                             std::int64_t channels, SampleType type, std::uint64_t* volumeBytes) {
    const std::int64_t limit = std::numeric_limits<int>::max();
    if (width < 1 || height < 1 || depth < 1 || width > limit || height > limit || depth > limit)
        return formatString("unsupported sizes %lld x %lld x %lld", (long long)width,
                            (long long)height, (long long)depth);
    if (channels < 1 || channels > maxChannels)
        return formatString("unsupported channel count %lld (1 to %lld)", (long long)channels,
                            (long long)maxChannels);
    const std::string sizes = formatString("%lld x %lld x %lld samples of %lld channel%s",
                                           (long long)width, (long long)height, (long long)depth,
                                           (long long)channels, channels == 1 ? "" : "s");
    // Each factor is below 2^31, so the products are checked a step at a time.
    using Wide = unsigned __int128;
    Wide bytes = Wide(width) * std::uint64_t(height);
    bytes *= std::uint64_t(channels) * sampleTypeBytes(type);
    const Wide slice = bytes;
    bytes *= std::uint64_t(depth);
    if (bytes > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return "too large: " + sizes;
    const std::int64_t memory = availableMemory();
    if (memory >= 0 && slice > std::uint64_t(memory / sliceMemoryShare))
        return formatString("too large: %s; a slice takes %.1f MB of the %.1f MB of memory "
                            "available",
                            sizes.c_str(), double(slice) / 1e6, double(memory) / 1e6);
    if (volumeBytes)
        *volumeBytes = std::uint64_t(bytes);
    return std::string();
}

std::string checkVolumeSizes(const VolumeInfo& info) {
    return checkVolumeSizes(info.width, info.height, info.depth, info.channels, info.type, nullptr);
}

std::string pickVolume(std::int64_t volumes, int volume, const std::string& holds,
                       std::int64_t* picked) {
    if (volume < 0 && volumes > 1)
        return formatString("%s: pick one with --volume T (0 to %lld)", holds.c_str(),
                            (long long)volumes - 1);
    if (volume >= volumes)
        return volumes == 1 ? formatString("no volume %d: the input holds one", volume)
                            : formatString("no volume %d: the input holds %lld (0 to %lld)", volume,
                                           (long long)volumes, (long long)volumes - 1);
    *picked = std::max(volume, 0);
    return std::string();
}

void guardReads(TypedSource* source) {
    using Read = std::function<std::string(int, void*)>;
    const auto guarded = [](Read read) -> Read {
        return [read = std::move(read)](int z, void* samples) {
            try {
                return read(z, samples);
            } catch (const std::bad_alloc&) {
                return std::string("out of memory");
            } catch (const std::exception& error) {
                return std::string("can't read: ") + error.what();
            }
        };
    };
    source->read = guarded(std::move(source->read));
    if (source->readStored)
        source->readStored = guarded(std::move(source->readStored));
}

std::size_t sliceBytes(const VolumeInfo& info) {
    return std::size_t(info.width) * std::size_t(info.height) * std::size_t(info.channels) *
           sampleTypeBytes(info.type);
}

void swapSampleBytes(SampleType type, std::size_t count, void* samples) {
    switch (sampleTypeBytes(type)) {
    case 2:
        qbswap<2>(samples, qsizetype(count), samples);
        break;
    case 4:
        qbswap<4>(samples, qsizetype(count), samples);
        break;
    case 8:
        qbswap<8>(samples, qsizetype(count), samples);
        break;
    default:
        break;
    }
}

bool StoredSamples::rescaled() const {
    return std::isfinite(slope) && std::isfinite(intercept) && slope != 0 &&
           !(slope == 1 && intercept == 0);
}

SampleType StoredSamples::valueType() const {
    if (!rescaled())
        return type;
    return type == SampleType::Float64 ? SampleType::Float64 : SampleType::Float32;
}

void StoredSamples::convert(void* stored, std::size_t count, SampleType to, void* out) const {
    if (swapped)
        swapSampleBytes(type, count, stored);
    if (to == type && !rescaled()) {
        if (out != stored)
            std::memcpy(out, stored, count * sampleTypeBytes(type));
        return;
    }
    const double s = rescaled() ? slope : 1, b = rescaled() ? intercept : 0;
    withSampleType(type, [&](auto* typed) {
        rescale(static_cast<decltype(typed)>(stored), count, s, b, to, out);
    });
}

void readThrough(const StoredSamples& stored,
                 std::function<std::string(int z, void* samples)> readStored, TypedSource* source) {
    auto layout = std::make_shared<const StoredSamples>(stored);
    const SampleType to = source->info.type;
    const std::size_t count = sliceBytes(source->info) / sampleTypeBytes(to);
    source->stored = layout;
    source->readStored = readStored;
    source->read = [layout, readStored = std::move(readStored), to, count](int z, void* samples) {
        const bool apart = sampleTypeBytes(layout->type) != sampleTypeBytes(to);
        thread_local std::vector<unsigned char> buffer;
        if (apart)
            buffer.resize(count * sampleTypeBytes(layout->type));
        void* into = apart ? buffer.data() : samples;
        const std::string failure = readStored(z, into);
        if (failure.empty())
            layout->convert(into, count, to, samples);
        return failure;
    };
}
