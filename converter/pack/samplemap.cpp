#include "samplemap.h"

#include "text.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {
// Calls f with a null pointer of the C++ type that holds samples of the given type.
template <typename F> void withSampleType(SampleType type, F&& f) {
    switch (type) {
    case SampleType::UInt8:
        return f(static_cast<const std::uint8_t*>(nullptr));
    case SampleType::Int8:
        return f(static_cast<const std::int8_t*>(nullptr));
    case SampleType::UInt16:
        return f(static_cast<const std::uint16_t*>(nullptr));
    case SampleType::Int16:
        return f(static_cast<const std::int16_t*>(nullptr));
    case SampleType::UInt32:
        return f(static_cast<const std::uint32_t*>(nullptr));
    case SampleType::Int32:
        return f(static_cast<const std::int32_t*>(nullptr));
    case SampleType::Float32:
        return f(static_cast<const float*>(nullptr));
    case SampleType::Float64:
        return f(static_cast<const double*>(nullptr));
    }
}

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
    if (grey) {
        for (std::size_t i = 0; i < n; ++i)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = value(i);
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[3 * i] = value(i);
}

// The channels the map reads, each once.
std::vector<int> usedChannels(const ChannelMap& map) {
    std::vector<int> used;
    for (int c : map.source)
        if (c >= 0 && std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    return used;
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

std::string describeChannelMap(const ChannelMap& map) {
    std::string text;
    const char names[] = "RGB";
    for (int c = 0; c < 3; ++c)
        text += formatString("%s%c=%s", c ? " " : "", names[c],
                             map.source[c] < 0 ? "-" : std::to_string(map.source[c]).c_str());
    return text;
}

std::string sampleRange(const TypedSource& source, const ChannelMap& map, double* lo, double* hi) {
    const VolumeInfo& info = source.info;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    const std::vector<int> used = usedChannels(map);
    std::vector<unsigned char> slice(pixels * std::size_t(info.channels) *
                                     sampleTypeBytes(info.type));
    double low = std::numeric_limits<double>::infinity(), high = -low;
    std::string failure;
    withSampleType(info.type, [&](auto* typed) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
        T tlow = std::numeric_limits<T>::max(), thigh = std::numeric_limits<T>::lowest();
        bool any = false;
        // The samples of one channel, every step-th value; NaN and infinities stay out.
        const auto scan = [&](const T* in, std::size_t step) {
            for (std::size_t i = 0; i < pixels; ++i) {
                const T v = in[i * step];
                if constexpr (std::is_floating_point_v<T>)
                    if (!std::isfinite(v))
                        continue;
                tlow = std::min(tlow, v);
                thigh = std::max(thigh, v);
            }
        };
        for (int z = 0; failure.empty() && z < info.depth && !used.empty(); ++z) {
            failure = source.read(z, slice.data());
            if (!failure.empty())
                break;
            const T* samples = reinterpret_cast<const T*>(slice.data());
            for (int c : used) {
                if (info.channels == 1)
                    scan(samples, 1); // a constant step lets the compiler vectorise
                else
                    scan(samples + c, std::size_t(info.channels));
            }
            any = true;
        }
        if (any && tlow <= thigh) {
            low = double(tlow);
            high = double(thigh);
        }
    });
    *lo = std::isfinite(low) ? low : 0;
    *hi = std::isfinite(high) ? high : 0;
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
            mapper = [table](const void* samples, int channels, int channel, std::size_t n,
                             bool grey, unsigned char* out) {
                using U = std::make_unsigned_t<T>;
                const U* in = static_cast<const U*>(samples) + channel;
                const unsigned char* lookup = table->data();
                const std::size_t step = std::size_t(channels);
                if (step == 1) // the common case, with a step the compiler knows
                    storeBytes(n, grey, out, [&](std::size_t i) { return lookup[in[i]]; });
                else
                    storeBytes(n, grey, out, [&](std::size_t i) { return lookup[in[i * step]]; });
            };
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

SliceSource mapToRgb(const TypedSource& source, const ChannelMap& map, const SampleWindow& window) {
    const VolumeInfo& info = source.info;
    const std::size_t pixels = std::size_t(info.width) * std::size_t(info.height);
    const std::size_t sliceBytes = pixels * std::size_t(info.channels) * sampleTypeBytes(info.type);
    const SampleMapper mapper = makeSampleMapper(info.type, window);
    // A source read one slice at a time shares one buffer; concurrent reads get their own.
    auto shared = std::make_shared<std::vector<unsigned char>>();
    SliceSource rgb;
    rgb.width = info.width;
    rgb.height = info.height;
    rgb.depth = info.depth;
    rgb.concurrent = source.concurrent;
    rgb.memory = source.memory + sliceBytes * (source.concurrent ? 2 : 1); // a typed slice a read
    rgb.read = [=](int z, unsigned char* out) {
        std::vector<unsigned char> own;
        std::vector<unsigned char>& slice = source.concurrent ? own : *shared;
        slice.resize(sliceBytes);
        const std::string failure = source.read(z, slice.data());
        if (!failure.empty())
            return failure;
        const int* from = map.source;
        if (from[0] == from[1] && from[1] == from[2] && from[0] >= 0) {
            mapper(slice.data(), info.channels, from[0], pixels, true, out);
            return std::string();
        }
        for (int c = 0; c < 3; ++c) {
            if (from[c] >= 0) {
                mapper(slice.data(), info.channels, from[c], pixels, false, out + c);
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
    SliceSource rgb;
    rgb.width = info.width;
    rgb.height = info.height;
    rgb.depth = info.depth;
    rgb.concurrent = source.concurrent;
    rgb.memory = source.memory + sliceBytes * (source.concurrent ? 2 : 1);
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
