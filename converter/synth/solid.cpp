#include "solid.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

void planeAxes(int normal, int* u, int* v) {
    *u = normal == 0 ? 1 : 0;
    *v = normal == 2 ? 1 : 2;
}

void solidNeighbourhood(const Solid& solid, int normal, const int centre[3], float* out) {
    int u, v;
    planeAxes(normal, &u, &v);
    const int n = solid.n;
    int p[3] = {centre[0], centre[1], centre[2]};
    int across[patchSide]; // the u coordinates of one row, wrapped once
    for (int du = -patchRadius; du <= patchRadius; ++du)
        across[du + patchRadius] = wrapIndex(centre[u] + du, n);
    for (int dv = -patchRadius; dv <= patchRadius; ++dv) {
        p[v] = wrapIndex(centre[v] - dv, n);
        for (int k = 0; k < patchSide; ++k) {
            p[u] = across[k];
            const float* sample =
                &solid.rgb[3 * ((std::size_t(p[2]) * n + std::size_t(p[1])) * n + p[0])];
            *out++ = sample[0];
            *out++ = sample[1];
            *out++ = sample[2];
        }
    }
}

void picturePatch(const Picture& picture, int x, int y, float* out) {
    for (int dv = -patchRadius; dv <= patchRadius; ++dv) {
        const float* row =
            &picture.rgb[3 * (std::size_t(y + dv) * picture.width + std::size_t(x - patchRadius))];
        out = std::copy(row, row + 3 * patchSide, out);
    }
}

Picture shrinkPicture(const Picture& picture, int factor) {
    Picture small;
    small.width = picture.width / factor;
    small.height = picture.height / factor;
    small.rgb.assign(3 * std::size_t(small.width) * small.height, 0.0f);
    const float share = 1.0f / float(factor * factor);
    for (int y = 0; y < small.height * factor; ++y)
        for (int x = 0; x < small.width * factor; ++x)
            for (int c = 0; c < 3; ++c)
                small.rgb[3 * (std::size_t(y / factor) * small.width + x / factor) + c] +=
                    share * picture.rgb[3 * (std::size_t(y) * picture.width + x) + c];
    return small;
}

namespace {
// A value's key for ranking: finer than the 8-bit steps the output keeps.
constexpr int keySteps = 256;
constexpr int keyCount = 256 * keySteps;

int rankKey(float value) {
    return std::clamp(int(value * keySteps), 0, keyCount - 1);
}

// A step near the golden section of count that visits every position once, wrapping.
std::size_t coprimeStep(std::size_t count) {
    std::size_t step = std::max<std::size_t>(1, std::size_t(double(count) * 0.6180339887));
    while (std::gcd(step, count) != 1)
        ++step;
    return step;
}
} // namespace

void matchHistogram(float* values, std::size_t count, std::size_t stride,
                    const std::vector<float>& target) {
    if (count == 0 || target.empty())
        return;
    // A counting sort of the keys: stable, so equal keys keep their order in memory.
    std::vector<std::uint32_t> start(keyCount + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        ++start[rankKey(values[i * stride]) + 1];
    for (int k = 0; k < keyCount; ++k)
        start[k + 1] += start[k];
    // Equal keys are placed in a scrambled order of their positions: in memory order, the
    // lowest of many equal values would gather at the solid's first planes, and its wrap
    // would show the step to the last ones.
    const std::size_t scramble = coprimeStep(count);
    std::vector<std::uint32_t> order(count);
    for (std::size_t k = 0, i = 0; k < count; ++k, i = (i + scramble) % count)
        order[start[rankKey(values[i * stride])]++] = std::uint32_t(i);
    const double step = double(target.size()) / double(count);
    for (std::size_t rank = 0; rank < count; ++rank)
        values[order[rank] * stride] =
            target[std::min(target.size() - 1, std::size_t((double(rank) + 0.5) * step))];
}
