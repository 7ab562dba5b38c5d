#include "resample.h"

#include "text.h"
#include "tasks.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace {
// The weights of one axis: output sample o is the sum of weight[t] * source[index[t]] for t
// from start[o] to start[o + 1].
struct Taps {
    std::vector<int> start, index;
    std::vector<float> weight;
};

Taps axisTaps(int in, int out) {
    Taps taps;
    const auto add = [&taps](int index, double weight) {
        if (weight > 1e-9) {
            taps.index.push_back(index);
            taps.weight.push_back(float(weight));
        }
    };
    const double ratio = double(in) / double(out);
    for (int o = 0; o < out; ++o) {
        taps.start.push_back(int(taps.index.size()));
        if (in == out) {
            add(o, 1);
        } else if (out < in) { // the source samples [o * ratio, (o + 1) * ratio) cover
            const double from = o * ratio, to = (o + 1) * ratio;
            for (int s = int(from); s < std::min(in, int(std::ceil(to))); ++s)
                add(s, (std::min(to, s + 1.0) - std::max(from, double(s))) / ratio);
        } else { // between the two source samples nearest the output sample's centre
            const double p = std::clamp((o + 0.5) * ratio - 0.5, 0.0, double(in - 1));
            const int s = std::min(int(p), in - 1);
            const double f = p - s;
            add(s, 1 - f);
            if (s + 1 < in)
                add(s + 1, f);
        }
    }
    taps.start.push_back(int(taps.index.size()));
    return taps;
}

// The taps of an axis whose samples outside [from, from + count) are known black: those add
// nothing and are dropped, and the others count from `from`.
Taps withinSpan(const Taps& taps, int from, int count) {
    Taps kept;
    for (std::size_t o = 0; o + 1 < taps.start.size(); ++o) {
        kept.start.push_back(int(kept.index.size()));
        for (int t = taps.start[o]; t < taps.start[o + 1]; ++t) {
            const int index = taps.index[std::size_t(t)] - from;
            if (index >= 0 && index < count) {
                kept.index.push_back(index);
                kept.weight.push_back(taps.weight[std::size_t(t)]);
            }
        }
    }
    kept.start.push_back(int(kept.index.size()));
    return kept;
}

// Whether output sample o is source sample o alone, for every o of a source of `in` samples.
bool isIdentity(const Taps& taps, int in) {
    if (taps.start.size() != std::size_t(in) + 1 || taps.index.size() != std::size_t(in))
        return false;
    for (int o = 0; o < in; ++o)
        if (taps.start[std::size_t(o)] != o || taps.index[std::size_t(o)] != o ||
            taps.weight[std::size_t(o)] != 1.0f)
            return false;
    return true;
}

// The outputs [first, last) outside which an axis' outputs have no taps: outside it, padding.
std::pair<int, int> tapSpan(const Taps& taps) {
    const int out = int(taps.start.size()) - 1;
    int first = 0, last = out;
    while (first < out && taps.start[std::size_t(first)] == taps.start[std::size_t(first) + 1])
        ++first;
    while (last > first && taps.start[std::size_t(last) - 1] == taps.start[std::size_t(last)])
        --last;
    return {first, last};
}

// What a resampled source keeps between its reads.
struct Resampler {
    SliceSource source; // the samples read: the padded volume's inner one when padded
    int width = 0, height = 0;
    // The colours weighed: 3, or 1 for a grey source, whose red is copied to green and blue.
    int colours = 3;
    Taps x, y, z;
    bool sameX = false, sameY = false; // the axis is copied, not weighed
    // The output box [x0, x1) x [y0, y1) that the source reaches; beyond it lies padding, whose
    // samples stay zero in every buffer from the start and are never touched.
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    std::vector<unsigned char> slice; // one source slice
    // The next source slice, read on another thread while this one is reduced: reading (and
    // what the source does to make a slice, such as inflating and mapping samples) then
    // overlaps resampling, one a core.
    std::vector<unsigned char> next;
    Task<std::string> nextRead;
    int nextZ = -1;
    std::vector<float> rows; // it resampled along x: width x source height
    // Source slices resampled along x and y, with their z (-1 when empty).
    std::vector<float> reduced[2];
    int reducedZ[2] = {-1, -1};
    std::vector<float> sum; // the output slice being summed

    // The source slice z reduced to width x height, from the two kept or read now.
    std::string reduce(int sz, const float** out) {
        for (int k = 0; k < 2; ++k)
            if (reducedZ[k] == sz) {
                *out = reduced[k].data();
                return std::string();
            }
        const int k = reducedZ[0] < reducedZ[1] ? 0 : 1; // the older one goes
        reducedZ[k] = -1;
        const std::string failure = readSlice(sz);
        if (!failure.empty())
            return failure;
        float* target = reduced[k].data();
        reduceAlongX(sameY ? target : rows.data());
        if (!sameY)
            reduceAlongY(target);
        reducedZ[k] = sz;
        *out = target;
        return std::string();
    }

    // Source slice sz into slice, from the read ahead when that was the one; then the next
    // slice's read starts.
    std::string readSlice(int sz) {
        bool ready = false;
        if (nextRead.valid()) { // one read of the source at a time
            const std::string ahead = nextRead.get();
            ready = nextZ == sz;
            nextZ = -1;
            if (ready && !ahead.empty())
                return ahead;
            if (ready)
                slice.swap(next);
        }
        if (!ready) {
            const std::string failure = source.read(sz, slice.data());
            if (!failure.empty())
                return failure;
        }
        if (sz + 1 < source.depth) {
            nextZ = sz + 1;
            nextRead = startTask(std::cref(source.read), nextZ, next.data());
        }
        return std::string();
    }

    // Every row of the slice resampled along x into alongX (width x source height).
    void reduceAlongX(float* alongX) const {
        const std::size_t outRow = std::size_t(colours) * std::size_t(width);
        const std::size_t step = std::size_t(3 / colours); // bytes from one weighed to the next
        for (int sy = 0; sy < source.height; ++sy) {
            const unsigned char* in =
                slice.data() + 3 * std::size_t(sy) * std::size_t(source.width);
            float* row = alongX + std::size_t(sy) * outRow;
            if (sameX) {
                for (std::size_t i = 0; i < outRow; ++i)
                    row[i] = in[i * step];
                continue;
            }
            if (colours == 1)
                reduceGreyRow(in, row);
            else
                reduceRgbRow(in, row);
        }
    }

    // The rows resampled along x, resampled along y into target.
    void reduceAlongY(float* target) const {
        const std::size_t outRow = std::size_t(colours) * std::size_t(width);
        const std::size_t from = std::size_t(colours) * std::size_t(x0),
                          to = std::size_t(colours) * std::size_t(x1);
        for (int oy = y0; oy < y1; ++oy) {
            float* row = target + std::size_t(oy) * outRow;
            std::fill(row + from, row + to, 0.0f);
            for (int t = y.start[std::size_t(oy)]; t < y.start[std::size_t(oy) + 1]; ++t) {
                const float* in = rows.data() + std::size_t(y.index[std::size_t(t)]) * outRow;
                const float w = y.weight[std::size_t(t)];
                for (std::size_t i = from; i < to; ++i)
                    row[i] += w * in[i];
            }
        }
    }

    // Row sy of an RGB source's slice resampled along x.
    void reduceRgbRow(const unsigned char* in, float* row) const {
        for (int ox = x0; ox < x1; ++ox) {
            float r = 0, g = 0, b = 0;
            for (int t = x.start[std::size_t(ox)]; t < x.start[std::size_t(ox) + 1]; ++t) {
                const unsigned char* p = in + 3 * std::size_t(x.index[std::size_t(t)]);
                const float w = x.weight[std::size_t(t)];
                r += w * p[0];
                g += w * p[1];
                b += w * p[2];
            }
            row[3 * ox] = r;
            row[3 * ox + 1] = g;
            row[3 * ox + 2] = b;
        }
    }

    // Row sy of a grey source's slice resampled along x: red alone.
    void reduceGreyRow(const unsigned char* in, float* row) const {
        for (int ox = x0; ox < x1; ++ox) {
            float v = 0;
            for (int t = x.start[std::size_t(ox)]; t < x.start[std::size_t(ox) + 1]; ++t)
                v += x.weight[std::size_t(t)] * in[3 * std::size_t(x.index[std::size_t(t)])];
            row[ox] = v;
        }
    }

    // The buffers are made on the first read, never while planning: the plan checks first that
    // memory holds them.
    void allocate() {
        const std::size_t outSlice =
            std::size_t(colours) * std::size_t(width) * std::size_t(height);
        slice.resize(3 * std::size_t(source.width) * std::size_t(source.height));
        next.resize(slice.size());
        if (!sameY) // else x's results go straight to the reduced slice
            rows.resize(std::size_t(colours) * std::size_t(width) * std::size_t(source.height));
        reduced[0].resize(outSlice);
        reduced[1].resize(outSlice);
        sum.resize(outSlice);
    }

    std::string read(int oz, unsigned char* rgb) {
        if (sum.empty())
            allocate();
        const int first = z.start[std::size_t(oz)], last = z.start[std::size_t(oz) + 1];
        if (first == last) { // padding alone
            std::fill(rgb, rgb + 3 * std::size_t(width) * std::size_t(height), 0);
            return std::string();
        }
        const float* in = nullptr;
        for (int t = first; t < last; ++t) {
            const std::string failure = reduce(z.index[std::size_t(t)], &in);
            if (!failure.empty())
                return failure;
            const float w = z.weight[std::size_t(t)];
            if (last - first == 1 && w == 1.0f) // one whole source slice: no sum to make
                break;
            float* total = sum.data();
            const std::size_t outRow = std::size_t(colours) * std::size_t(width);
            const std::size_t c = std::size_t(colours);
            for (int oy = y0; oy < y1; ++oy)
                for (std::size_t i = std::size_t(oy) * outRow + c * std::size_t(x0);
                     i < std::size_t(oy) * outRow + c * std::size_t(x1); ++i)
                    total[i] = (t == first ? 0.0f : total[i]) + w * in[i];
            in = total;
        }
        // Weights sum to 1 and samples are 0..255, so only rounding can pass 255.
        const std::size_t copies = std::size_t(4 - colours); // 3 for grey, else 1
        for (std::size_t i = 0; i < sum.size(); ++i) {
            const float v = in[i] + 0.5f;
            const unsigned char byte = v >= 255.0f ? 255 : static_cast<unsigned char>(v);
            for (std::size_t k = 0; k < copies; ++k)
                rgb[i * copies + k] = byte;
        }
        return std::string();
    }
};
} // namespace

SliceSource resampleSource(const SliceSource& source, int width, int height, int depth) {
    if (width == source.width && height == source.height && depth == source.depth)
        return source;
    auto state = std::make_shared<Resampler>();
    state->source = source.padding ? source.padding->inner : source;
    state->width = width;
    state->height = height;
    state->colours = source.grey ? 1 : 3;
    state->x = axisTaps(source.width, width);
    state->y = axisTaps(source.height, height);
    state->z = axisTaps(source.depth, depth);
    if (source.padding) { // the black around the inner volume adds nothing: it is never read
        const int* at = source.padding->offset;
        state->x = withinSpan(state->x, at[0], state->source.width);
        state->y = withinSpan(state->y, at[1], state->source.height);
        state->z = withinSpan(state->z, at[2], state->source.depth);
    }
    // An axis of unchanged size is copied, not weighed: resampling to equal spacing often
    // changes z alone.
    state->sameX = isIdentity(state->x, state->source.width);
    state->sameY = isIdentity(state->y, state->source.height);
    std::tie(state->x0, state->x1) = tapSpan(state->x);
    std::tie(state->y0, state->y1) = tapSpan(state->y);
    SliceSource out;
    out.width = width;
    out.height = height;
    out.depth = depth;
    out.grey = source.grey;
    out.memory = resampleMemory(state->source, width, height);
    out.read = [state](int z, unsigned char* rgb) { return state->read(z, rgb); };
    return out;
}

std::uint64_t resampleMemory(const SliceSource& source, int width, int height) {
    const std::uint64_t in = 3 * std::uint64_t(source.width) * std::uint64_t(source.height);
    const std::uint64_t out = 3 * std::uint64_t(width) * std::uint64_t(height);
    const std::uint64_t rows = 3 * std::uint64_t(width) * std::uint64_t(source.height);
    // Two source slices (one read ahead), x's rows and three output slices, all in floats but
    // the source's bytes.
    return source.memory + 2 * in + sizeof(float) * (rows + 3 * out);
}

std::string cubicSampleSizes(const int sizes[3], const double spacing[3], int maxSide,
                             int resampled[3]) {
    double finest = 0;
    for (int a = 0; a < 3; ++a) {
        if (sizes[a] < 2)
            continue;
        if (!(spacing[a] > 0) || !std::isfinite(spacing[a]))
            return formatString("unusable spacing %g, %g, %g (give one with --spacing X,Y,Z)",
                                spacing[0], spacing[1], spacing[2]);
        finest = finest > 0 ? std::min(finest, spacing[a]) : spacing[a];
    }
    for (int a = 0; a < 3; ++a) {
        const double size = sizes[a] < 2 ? sizes[a] : std::round(sizes[a] * (spacing[a] / finest));
        if (size > maxSide)
            return formatString("spacing %g, %g, %g would make %.0f samples along an axis "
                                "(at most %d)",
                                spacing[0], spacing[1], spacing[2], size, maxSide);
        resampled[a] = std::max(1, int(size));
    }
    return std::string();
}
