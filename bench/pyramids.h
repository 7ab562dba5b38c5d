#pragma once

// What the pyramid rows (OME-Zarr and Imaris) share: their samples and the pack they time.

#include <QString>

#include <cstdint>
#include <string>

// The samples of the multi-resolution volumes, the same in every layout: a smooth ramp with a
// scan's noise in its lower bits, so that chunks compress about as a microscope's do and
// decoding them costs what it costs on real data (a ramp alone decodes for nothing).
inline std::uint16_t pyramidSample(int level, long long x, long long y, long long z) {
    const long long s = 1LL << level;
    std::uint32_t h = std::uint32_t(x * 73856093LL ^ y * 19349663LL ^ z * 83492791LL ^ level);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return std::uint16_t((x * s + 2 * y * s + 3 * z * s) / 4 + 1000 + (h & 255));
}

// Packs input as tessary-vol does with --size size --window 0,windowHi (one pass: no range to
// measure; a negative windowHi: no --window, so a range pass first) and --dataset when given,
// into a sink that drops the slices: writing and syncing the output is the same for every input,
// and would hide the reading. Returns "" or the message.
std::string packDropped(const QString& input, int size, double windowHi,
                        const std::string& dataset = std::string());
