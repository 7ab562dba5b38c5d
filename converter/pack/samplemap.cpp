#include "samplemap.h"

#include "keptslices.h"
#include "progress.h"
#include "storedsamples.h"
#include "systemmemory.h"
#include "text.h"
#include "tasks.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace {
// One sample through the window of width hi - lo, a step when that is 0. The formula is kept
// as written (a multiplied reciprocal would round 127.5 down in some windows).
inline unsigned char windowed(double v, double lo, double width) {
    if (!(width > 0))
        return v > lo ? 255 : 0;
    const double x = 255 * (v - lo) / width;
    if (!(x > 0)) // NaN too
        return 0;
    return x >= 254.5 ? 255 : static_cast<unsigned char>(x + 0.5);
}

// Writes value(i), i < n, into out[3i], and into out[3i + 1] and out[3i + 2] too when grey.
template <typename F> void storeBytes(std::size_t n, bool grey, unsigned char* out, F value) {
    if (grey) { // one four-byte store a pixel, its fourth byte written over by the next pixel
        std::size_t i = 0;
        for (; i + 1 < n; ++i) {
            const std::uint32_t bytes = std::uint32_t(value(i)) * 0x01010101u;
            std::memcpy(out + 3 * i, &bytes, 4);
        }
        for (; i < n; ++i)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = value(i);
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[3 * i] = value(i);
}

// A sample of the type at bytes, as a double.
double valueAt(SampleType type, const void* bytes) {
    double value = 0;
    withSampleType(type, [&](auto* typed) {
        std::remove_const_t<std::remove_pointer_t<decltype(typed)>> sample;
        std::memcpy(&sample, bytes, sizeof sample);
        value = double(sample);
    });
    return value;
}

// The value that the stored bits of one 8- or 16-bit sample stand for, converted as the reader
// converts them.
double storedValue(const StoredSamples& stored, std::uint16_t bits, SampleType to) {
    unsigned char in[2], out[8];
    if (sampleTypeBytes(stored.type) == 1)
        in[0] = static_cast<unsigned char>(bits);
    else
        std::memcpy(in, &bits, sizeof bits);
    stored.convert(in, 1, to, out);
    return valueAt(to, out);
}

// The mapper that looks samples, taken as unsigned U, up in a table of every value of U.
template <typename U> SampleMapper tableMapper(std::shared_ptr<std::vector<unsigned char>> table) {
    return [table](const void* samples, int channels, int channel, std::size_t n, bool grey,
                   unsigned char* out) {
        const U* in = static_cast<const U*>(samples) + channel;
        const unsigned char* lookup = table->data();
        const std::size_t step = std::size_t(channels);
        if (step == 1) // the common case, with a step the compiler knows
            storeBytes(n, grey, out, [&](std::size_t i) { return lookup[in[i]]; });
        else
            storeBytes(n, grey, out, [&](std::size_t i) { return lookup[in[i * step]]; });
    };
}

using Read = std::function<std::string(int z, void* samples)>;

// Reads every slice in order and hands it to scan; *kept, where given, keeps each slice (and
// becomes null when the file can take no more). The next slices are read on other threads while
// one is scanned: one at a time, or two at once from a concurrent source, so that decoding a
// series of files uses both cores.
std::string eachSlice(const Read& read, bool concurrent, int depth, std::size_t sliceBytes,
                      std::shared_ptr<KeptSlices>* kept,
                      const std::function<void(const unsigned char*)>& scan) {
    const int ahead = concurrent ? 2 : 1;
    std::vector<std::vector<unsigned char>> buffers(std::size_t(ahead) + 1,
                                                    std::vector<unsigned char>(sliceBytes));
    std::deque<Task<std::string>> reads; // of slices z, z + 1, ... in order
    int next = 0;
    const auto start = [&] {
        unsigned char* buffer = buffers[std::size_t(next) % buffers.size()].data();
        reads.push_back(startTask(std::cref(read), next++, buffer));
    };
    std::string failure;
    if (depth > 0)
        start();
    Progress progress = startProgress("reading", depth);
    for (int z = 0; z < depth && failure.empty(); ++z) {
        failure = reads.front().get();
        reads.pop_front();
        while (failure.empty() && next < depth && next <= z + ahead)
            start(); // into buffers no read or scan is using
        if (!failure.empty())
            break;
        const unsigned char* slice = buffers[std::size_t(z) % buffers.size()].data();
        if (*kept && !(*kept)->write(z, slice))
            kept->reset();
        scan(slice);
        advanceProgress(&progress, z + 1);
    }
    finishProgress(&progress);
    for (Task<std::string>& pending : reads)
        pending.wait(); // before its buffer goes
    return failure;
}

// The range of the channels used, read as info.type; see sampleRange.
std::string typedRange(const TypedSource& source, const std::vector<int>& used,
                       std::shared_ptr<KeptSlices>* kept, double* lo, double* hi) {
    const VolumeInfo& info = source.info;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    std::string failure;
    withSampleType(info.type, [&](auto* typed) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
        T tlow = std::numeric_limits<T>::max(), thigh = std::numeric_limits<T>::lowest();
        // The samples of one channel, every step-th value; NaN and infinities stay out. The
        // bounds are kept in locals: through the captured ones, which may alias the samples,
        // the loop would not vectorise.
        const auto scan = [&](const T* in, std::size_t step) {
            T low = tlow, high = thigh;
            for (std::size_t i = 0; i < pixels; ++i) {
                const T v = in[i * step];
                if constexpr (std::is_floating_point_v<T>)
                    if (!std::isfinite(v))
                        continue;
                low = std::min(low, v);
                high = std::max(high, v);
            }
            tlow = low;
            thigh = high;
        };
        failure =
            eachSlice(source.read, source.concurrent, info.depth, sliceBytes(info), kept,
                      [&](const unsigned char* bytes) {
                          const T* samples = reinterpret_cast<const T*>(bytes);
                          for (int c : used) {
                              if (info.channels == 1)
                                  scan(samples, 1); // a constant step lets the compiler vectorise
                              else
                                  scan(samples + c, std::size_t(info.channels));
                          }
                      });
        if (failure.empty() && tlow <= thigh) {
            *lo = double(tlow);
            *hi = double(thigh);
        }
    });
    return failure;
}

// The same for samples read as stored (mapsStored): which stored values occur is marked, and
// the range is that of their converted values.
std::string storedRange(const TypedSource& source, const std::vector<int>& used,
                        std::shared_ptr<KeptSlices>* kept, double* lo, double* hi) {
    const VolumeInfo& info = source.info;
    const StoredSamples& stored = *source.stored;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    const std::size_t step = std::size_t(info.channels);
    const bool wide = sampleTypeBytes(stored.type) == 2;
    std::vector<unsigned char> seen(wide ? 65536 : 256);
    const std::string failure = eachSlice(
        source.readStored, source.concurrent, info.depth,
        pixels * step * sampleTypeBytes(stored.type), kept, [&](const unsigned char* bytes) {
            for (int c : used) {
                if (!wide)
                    for (std::size_t i = 0; i < pixels; ++i)
                        seen[bytes[i * step + std::size_t(c)]] = 1;
                const std::uint16_t* in = reinterpret_cast<const std::uint16_t*>(bytes) + c;
                if (wide && step == 1)
                    for (std::size_t i = 0; i < pixels; ++i)
                        seen[in[i]] = 1;
                else if (wide)
                    for (std::size_t i = 0; i < pixels; ++i)
                        seen[in[i * step]] = 1;
            }
        });
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (std::size_t u = 0; u < seen.size(); ++u) {
        const double v = seen[u] ? storedValue(stored, std::uint16_t(u), info.type) : NAN;
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    if (failure.empty() && low <= high) {
        *lo = low;
        *hi = high;
    }
    return failure;
}

// The source whose reads come from kept, falling back on the source where that fails.
TypedSource replayOf(const TypedSource& source, const std::shared_ptr<KeptSlices>& kept,
                     bool asStored) {
    TypedSource replay = source;
    const Read from = asStored ? source.readStored : source.read;
    const Read read = [kept, from](int z, void* samples) {
        return kept->read(z, samples) ? std::string() : from(z, samples);
    };
    if (asStored)
        readThrough(*source.stored, read, &replay);
    else
        replay.read = read;
    return replay;
}
} // namespace

std::string defaultChannelMap(const VolumeInfo& info, ChannelMap* map) {
    std::vector<int> colour;
    for (int c = 0; c < info.channels; ++c)
        if (c != info.alphaChannel)
            colour.push_back(c);
    if (colour.empty() || colour.size() > 3)
        return formatString("%d channels%s: pick up to three with --channels A,B,C",
                            int(colour.size()), info.alphaChannel >= 0 ? " besides alpha" : "");
    // Grey fills all three colours; two channels fill R and G.
    for (int c = 0; c < 3; ++c)
        map->source[c] = colour.size() == 1       ? colour[0]
                         : c < int(colour.size()) ? colour[std::size_t(c)]
                                                  : -1;
    return std::string();
}

bool fileChannelMap(const VolumeInfo& info, ChannelMap* map) {
    bool any = false;
    for (int c = 0; c < 3; ++c) {
        map->source[c] = -1;
        for (std::size_t k = 0; k < info.channelDisplay.size() && map->source[c] < 0; ++k)
            if (info.channelDisplay[k].colour == c && int(k) < info.channels)
                map->source[c] = int(k);
        any = any || map->source[c] >= 0;
    }
    return any;
}

std::string parseChannelMap(const QString& text, int channels, ChannelMap* map) {
    const QStringList parts = text.split(',');
    if (parts.size() != 3)
        return "--channels takes three entries A,B,C (a channel number or -)";
    for (int c = 0; c < 3; ++c) {
        const QString part = parts[c].trimmed();
        bool good = true;
        const int value = part == "-" ? -1 : part.toInt(&good);
        if (!good || value < -1 || value >= channels || (value == -1 && part != "-"))
            return formatString("--channels: '%s' is no channel of 0 to %d, nor -",
                                qPrintable(part), channels - 1);
        map->source[c] = value;
    }
    return std::string();
}

std::vector<int> usedChannels(const ChannelMap& map) {
    std::vector<int> used;
    for (int c : map.source)
        if (c >= 0 && std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    return used;
}

std::string describeChannelMap(const ChannelMap& map) {
    if (map.source[0] >= 0 && map.source[0] == map.source[1] && map.source[1] == map.source[2])
        return formatString("grey from channel %d", map.source[0]);
    std::string text;
    const char names[] = "RGB";
    for (int c = 0; c < 3; ++c)
        text += formatString("%s%c=%s", c ? " " : "", names[c],
                             map.source[c] < 0 ? "-" : std::to_string(map.source[c]).c_str());
    return text;
}

bool mapsStored(const TypedSource& source) {
    if (!source.stored || !source.readStored)
        return false;
    const StoredSamples& stored = *source.stored;
    const std::size_t bytes = sampleTypeBytes(stored.type);
    const bool integer = stored.type == SampleType::UInt8 || stored.type == SampleType::Int8 ||
                         stored.type == SampleType::UInt16 || stored.type == SampleType::Int16;
    return integer && ((stored.swapped && bytes == 2) || source.info.type != stored.type);
}

std::string sampleRange(const TypedSource& source, const ChannelMap& map, double* lo, double* hi,
                        TypedSource* replay) {
    *lo = *hi = 0;
    if (replay)
        *replay = source;
    const std::vector<int> used = usedChannels(map);
    if (used.empty())
        return std::string();
    const VolumeInfo& info = source.info;
    const bool asStored = mapsStored(source);
    const std::size_t bytes = std::size_t(info.width) * std::size_t(info.height) *
                              std::size_t(info.channels) *
                              sampleTypeBytes(asStored ? source.stored->type : info.type);
    std::shared_ptr<KeptSlices> kept = replay && source.costlyReads
                                           ? KeptSlices::make(bytes, info.depth, availableMemory())
                                           : nullptr;
    const std::string failure = asStored ? storedRange(source, used, &kept, lo, hi)
                                         : typedRange(source, used, &kept, lo, hi);
    if (failure.empty() && kept)
        *replay = replayOf(source, kept, asStored);
    return failure;
}

SampleMapper makeSampleMapper(SampleType type, const SampleWindow& window) {
    const double lo = window.lo, width = window.hi - window.lo;
    SampleMapper mapper;
    withSampleType(type, [&](auto* typed) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
        if constexpr (sizeof(T) <= 2 && std::is_integral_v<T>) {
            // Every value of an 8- or 16-bit type looked up in a table made once.
            auto table =
                std::make_shared<std::vector<unsigned char>>(std::size_t(1) << (8 * sizeof(T)));
            for (std::size_t u = 0; u < table->size(); ++u)
                (*table)[u] = window.copy ? static_cast<unsigned char>(u)
                                          : windowed(double(static_cast<T>(u)), lo, width);
            mapper = tableMapper<std::make_unsigned_t<T>>(table);
        } else {
            mapper = [lo, width](const void* samples, int channels, int channel, std::size_t n,
                                 bool grey, unsigned char* out) {
                const T* in = static_cast<const T*>(samples) + channel;
                const std::size_t step = std::size_t(channels);
                storeBytes(n, grey, out, [&](std::size_t i) {
                    return windowed(double(in[i * step]), lo, width);
                });
            };
        }
    });
    return mapper;
}

SampleMapper makeStoredMapper(const StoredSamples& stored, SampleType to,
                              const SampleWindow& window) {
    const bool wide = sampleTypeBytes(stored.type) == 2;
    auto table = std::make_shared<std::vector<unsigned char>>(wide ? 65536 : 256);
    for (std::size_t u = 0; u < table->size(); ++u)
        (*table)[u] =
            windowed(storedValue(stored, std::uint16_t(u), to), window.lo, window.hi - window.lo);
    return wide ? tableMapper<std::uint16_t>(table) : tableMapper<std::uint8_t>(table);
}

namespace {
// The RGB volume of source's sizes, without its read, holding a typed slice of sliceBytes a read.
SliceSource rgbOf(const TypedSource& source, std::size_t sliceBytes) {
    SliceSource rgb;
    rgb.width = source.info.width;
    rgb.height = source.info.height;
    rgb.depth = source.info.depth;
    rgb.concurrent = source.concurrent;
    rgb.memory = source.memory + sliceBytes * (source.concurrent ? 2 : 1);
    return rgb;
}
} // namespace

SliceSource mapToRgb(const TypedSource& source, const ChannelMap& map, const SampleWindow& window) {
    const VolumeInfo& info = source.info;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    // Samples that the reader would swap or rescale are looked up as stored instead.
    const bool asStored = !window.copy && mapsStored(source);
    const SampleType type = asStored ? source.stored->type : info.type;
    const std::size_t sliceBytes = pixels * std::size_t(info.channels) * sampleTypeBytes(type);
    const SampleMapper mapper = asStored ? makeStoredMapper(*source.stored, info.type, window)
                                         : makeSampleMapper(type, window);
    const Read read = asStored ? source.readStored : source.read;
    // A source read one slice at a time shares one buffer; concurrent reads get their own.
    auto shared = std::make_shared<std::vector<unsigned char>>();
    SliceSource rgb = rgbOf(source, sliceBytes);
    rgb.grey = map.source[0] == map.source[1] && map.source[1] == map.source[2];
    rgb.read = [=, channels = info.channels](int z, unsigned char* out) {
        thread_local std::vector<unsigned char> own;
        std::vector<unsigned char>& slice = source.concurrent ? own : *shared;
        slice.resize(sliceBytes);
        const std::string failure = read(z, slice.data());
        if (!failure.empty())
            return failure;
        const int* from = map.source;
        if (from[0] == from[1] && from[1] == from[2] && from[0] >= 0) {
            mapper(slice.data(), channels, from[0], pixels, true, out);
            return std::string();
        }
        for (int c = 0; c < 3; ++c) {
            if (from[c] >= 0) {
                mapper(slice.data(), channels, from[c], pixels, false, out + c);
                continue;
            }
            for (std::size_t i = 0; i < pixels; ++i)
                out[3 * i + std::size_t(c)] = 0;
        }
        return std::string();
    };
    return rgb;
}

SliceSource mapToRgbPerColour(const TypedSource& source, const ChannelMap& map,
                              const SampleWindow windows[3]) {
    const VolumeInfo& info = source.info;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    const std::size_t sliceBytes = pixels * std::size_t(info.channels) * sampleTypeBytes(info.type);
    std::vector<SampleMapper> mappers;
    for (int c = 0; c < 3; ++c)
        mappers.push_back(makeSampleMapper(info.type, windows[c]));
    auto shared = std::make_shared<std::vector<unsigned char>>();
    SliceSource rgb = rgbOf(source, sliceBytes);
    rgb.read = [=](int z, unsigned char* out) {
        std::vector<unsigned char> own;
        std::vector<unsigned char>& slice = source.concurrent ? own : *shared;
        slice.resize(sliceBytes);
        const std::string failure = source.read(z, slice.data());
        if (!failure.empty())
            return failure;
        for (int c = 0; c < 3; ++c) {
            if (map.source[c] >= 0) {
                mappers[std::size_t(c)](slice.data(), info.channels, map.source[c], pixels, false,
                                        out + c);
                continue;
            }
            for (std::size_t i = 0; i < pixels; ++i)
                out[3 * i + std::size_t(c)] = 0;
        }
        return std::string();
    };
    return rgb;
}

TypedSource typedFromRgb(const SliceSource& rgb, const std::string& format) {
    TypedSource typed;
    typed.info.format = format;
    typed.info.width = rgb.width;
    typed.info.height = rgb.height;
    typed.info.depth = rgb.depth;
    typed.info.channels = 3;
    typed.info.type = SampleType::UInt8;
    typed.concurrent = rgb.concurrent;
    typed.read = [read = rgb.read](int z, void* samples) {
        return read(z, static_cast<unsigned char*>(samples));
    };
    return typed;
}
