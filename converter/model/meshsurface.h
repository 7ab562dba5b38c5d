#pragma once

// The surface of an imported mesh, made without units: vertices joined where exactly equal,
// triangles dropped whose corners repeat a position, closed parts wound outward, normals made
// to follow. Only equality of positions and signs of volumes decide, so a model in metres and
// the same model in millimetres come out alike.

#include "meshfile.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

// Keeps one copy of each distinct item: `width` floats compared exactly (0 and -0 alike; no
// NaN reaches here), `stride` floats stored. An open-addressing table of indices into the kept
// items, so that joining millions of vertices costs a hash and a compare or two each.
class Joiner {
public:
    Joiner(std::vector<float>* kept, std::size_t stride, std::size_t width, std::size_t expected)
        : kept(kept), stride(stride), width(width) {
        while ((std::size_t(1) << bits) < expected + expected / 2)
            ++bits;
        table.assign(std::size_t(1) << bits, empty);
    }

    // The index of the kept item equal to item; item's stride floats are kept when it is new.
    std::uint32_t add(const float* item) {
        if (10 * std::size_t(count + 1) > 7 * table.size()) // linear probing stays short
            grow();
        for (std::size_t s = home(item);; s = (s + 1) & (table.size() - 1)) {
            if (table[s] == empty) {
                kept->insert(kept->end(), item, item + stride);
                return table[s] = count++;
            }
            if (std::equal(item, item + width, &(*kept)[std::size_t(table[s]) * stride]))
                return table[s];
        }
    }

private:
    static constexpr std::uint32_t empty = UINT32_MAX;

    std::size_t home(const float* item) const {
        std::uint64_t h = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const float f = item[i] == 0 ? 0.0f : item[i];
            std::uint32_t bits32;
            std::memcpy(&bits32, &f, sizeof bits32);
            h = (h ^ bits32) * 0x9E3779B97F4A7C15ull;
        }
        h ^= h >> 29; // the high bits pick the slot: mix the low ones in
        return std::size_t((h * 0xBF58476D1CE4E5B9ull) >> (64 - bits));
    }

    void grow() {
        ++bits;
        table.assign(std::size_t(1) << bits, empty);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::size_t s = home(&(*kept)[std::size_t(i) * stride]);
            while (table[s] != empty)
                s = (s + 1) & (table.size() - 1);
            table[s] = i;
        }
    }

    std::vector<float>* kept;
    std::size_t stride, width;
    int bits = 4;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> table;
};

// Normalises each vertex's sum of its triangles' cross products (twice their areas, along their
// normals) into the normal of a vertex that has none (zero: missing, zero in the file, or
// ignored). Any other normal that points against its triangles turns round: in a closed part
// the triangles face outward; in an open one the winding is all there is to go by.
void setNormals(MeshData* mesh);

// Moves the bounding box's centre to the origin and scales the farthest vertex to distance 1.
void centreToUnitRadius(MeshData* mesh);

// Each vertex's point: vertices at equal positions (0 and -0 alike) share one; points count
// from 0 in the order of their first vertex.
std::vector<std::uint32_t> pointIds(const MeshData& mesh);

// pointIds of a mesh whose vertices were joined by position and normal, as importMesh joins:
// without normals, each vertex is a point of its own already.
std::vector<std::uint32_t> joinedPointIds(const MeshData& mesh);

// Drops the triangles with two corners at one point: they have no area and face nowhere,
// whatever the units. Returns how many went.
std::uint64_t dropRepeatedCorners(MeshData* mesh, const std::vector<std::uint32_t>& point);

// Winds each closed part outward (see orientOutward); returns how many triangles turned.
std::size_t orientParts(MeshData* mesh, const std::vector<std::uint32_t>& point);

// Winds each closed part of the mesh outward. A part is the triangles connected through shared
// edges (vertices at equal positions count as one, so flat-shaded corners connect); it is
// closed when every edge of it belongs to exactly two of its triangles and its triangles can
// be wound consistently. Such a part is wound so, then reversed when its signed volume is
// negative. Open parts keep the file's winding. Then every vertex normal that points against
// its triangles is negated, so normals follow the winding, and a zero one is computed
// (setNormals). Returns the number of triangles whose winding changed.
std::size_t orientOutward(MeshData* mesh);
