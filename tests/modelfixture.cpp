#include "modelfixture.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
// A fixed pseudo-random value in [-1, 1] for a grid point.
double bump(std::uint32_t ring, std::uint32_t segment) {
    std::uint32_t h = ring * 73856093u ^ segment * 19349663u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    h ^= h >> 15;
    return double(h % 20001u) / 10000.0 - 1;
}

template <typename T> void put(std::vector<unsigned char>* bytes, T value) {
    unsigned char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value); // little-endian hosts only, as the viewer
    bytes->insert(bytes->end(), raw, raw + sizeof value);
}
} // namespace

std::string writeLumpySpherePly(const std::string& path, int segments, int rings, double radius) {
    const double pi = std::acos(-1.0);
    const std::uint32_t around = std::uint32_t(segments), bands = std::uint32_t(rings);
    const std::uint32_t vertices = 2 + around * (bands - 1);
    const long long triangles = lumpySphereTriangles(segments, rings);
    std::vector<unsigned char> body;
    body.reserve(std::size_t(vertices) * 12 + std::size_t(triangles) * 13);
    const auto vertex = [&](double r, double polar, double azimuth) {
        put(&body, float(r * std::sin(polar) * std::cos(azimuth)));
        put(&body, float(r * std::sin(polar) * std::sin(azimuth)));
        put(&body, float(r * std::cos(polar)));
    };
    vertex(radius, 0, 0); // north pole: vertex 0
    for (std::uint32_t ring = 1; ring < bands; ++ring)
        for (std::uint32_t s = 0; s < around; ++s)
            vertex(radius * (1 + 0.02 * bump(ring, s)), pi * ring / bands, 2 * pi * s / around);
    vertex(radius, pi, 0);                                     // south pole: the last vertex
    const auto at = [&](std::uint32_t ring, std::uint32_t s) { // ring from 1
        return std::int32_t(1 + (ring - 1) * around + s % around);
    };
    const auto triangle = [&](std::int32_t a, std::int32_t b, std::int32_t c) {
        body.push_back(3);
        for (std::int32_t index : {a, b, c})
            put(&body, index);
    };
    // Counter-clockwise seen from outside: polar angle grows southward, azimuth eastward.
    for (std::uint32_t s = 0; s < around; ++s)
        triangle(0, at(1, s), at(1, s + 1));
    for (std::uint32_t ring = 1; ring + 1 < bands; ++ring)
        for (std::uint32_t s = 0; s < around; ++s) {
            triangle(at(ring, s), at(ring + 1, s), at(ring + 1, s + 1));
            triangle(at(ring, s), at(ring + 1, s + 1), at(ring, s + 1));
        }
    for (std::uint32_t s = 0; s < around; ++s)
        triangle(std::int32_t(vertices - 1), at(bands - 1, s + 1), at(bands - 1, s));
    const std::string header =
        "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(vertices) +
        "\nproperty float x\nproperty float y\nproperty float z\n"
        "element face " +
        std::to_string(triangles) + "\nproperty list uchar int vertex_indices\nend_header\n";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         &std::fclose);
    if (!file || std::fwrite(header.data(), 1, header.size(), file.get()) != header.size() ||
        std::fwrite(body.data(), 1, body.size(), file.get()) != body.size() ||
        std::fflush(file.get()) != 0)
        return path + ": can't write the sphere";
    return "";
}
