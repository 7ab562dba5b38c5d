#include "meshsurface.h"

#include <array>
#include <cmath>

using namespace meshLayout;

namespace {
using Vector = std::array<double, 3>;

Vector positionOf(const MeshData& mesh, std::uint32_t vertex) {
    const float* p = &mesh.vertices[std::size_t(vertex) * floatsPerVertex];
    return {p[0], p[1], p[2]};
}

Vector minus(const Vector& a, const Vector& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Vector cross(const Vector& e, const Vector& f) {
    return {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
}

double dot(const Vector& a, const Vector& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Twice the area of triangle t along its normal, as wound.
Vector triangleCross(const MeshData& mesh, std::size_t t) {
    const std::uint32_t* corner = &mesh.indices[3 * t];
    const Vector a = positionOf(mesh, corner[0]);
    return cross(minus(positionOf(mesh, corner[1]), a), minus(positionOf(mesh, corner[2]), a));
}

// Each vertex's sum of its triangles' cross products.
std::vector<Vector> cornerSums(const MeshData& mesh) {
    std::vector<Vector> sums(std::size_t(mesh.vertexCount), Vector{0, 0, 0});
    for (std::size_t t = 0; t < mesh.indices.size() / 3; ++t) {
        const Vector c = triangleCross(mesh, t);
        for (int k = 0; k < 3; ++k)
            for (std::size_t i = 0; i < 3; ++i)
                sums[mesh.indices[3 * t + std::size_t(k)]][i] += c[i];
    }
    return sums;
}

// Each point's triangles: those of point p are around[start[p]] up to around[start[p + 1]].
struct PointTriangles {
    std::vector<std::uint32_t> start, around;

    PointTriangles(const MeshData& mesh, const std::vector<std::uint32_t>& point) {
        const std::uint32_t points =
            point.empty() ? 0 : *std::max_element(point.begin(), point.end()) + 1;
        start.assign(std::size_t(points) + 1, 0);
        for (std::uint32_t vertex : mesh.indices)
            ++start[point[vertex] + 1];
        for (std::size_t p = 0; p < points; ++p)
            start[p + 1] += start[p];
        around.resize(mesh.indices.size());
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < mesh.indices.size(); ++i)
            around[next[point[mesh.indices[i]]]++] = std::uint32_t(i / 3);
    }
    std::size_t count(std::uint32_t p) const { return start[p + 1] - start[p]; }
};
} // namespace

void setNormals(MeshData* mesh) {
    const std::vector<Vector> sums = cornerSums(*mesh);
    for (std::size_t v = 0; v < sums.size(); ++v) {
        float* n = &mesh->vertices[v * floatsPerVertex + 3];
        const Vector& s = sums[v];
        if (n[0] != 0 || n[1] != 0 || n[2] != 0) {
            if (dot(s, Vector{n[0], n[1], n[2]}) < 0)
                n[0] = -n[0], n[1] = -n[1], n[2] = -n[2];
            continue;
        }
        const double length = std::sqrt(dot(s, s));
        for (std::size_t i = 0; i < 3; ++i) // a vertex of no triangle area gets +z
            n[i] = length > 0 && std::isfinite(length) ? float(s[i] / length)
                   : i == 2                            ? 1.0f
                                                       : 0.0f;
    }
}

void centreToUnitRadius(MeshData* mesh) {
    float low[3], high[3];
    meshBounds(*mesh, low, high);
    const Vector centre = {0.5 * (double(low[0]) + high[0]), 0.5 * (double(low[1]) + high[1]),
                           0.5 * (double(low[2]) + high[2])};
    double radius = 0;
    for (std::uint32_t v = 0; v < std::uint32_t(mesh->vertexCount); ++v)
        radius = std::max(radius, std::sqrt(dot(minus(positionOf(*mesh, v), centre),
                                                minus(positionOf(*mesh, v), centre))));
    const double scale = radius > 0 ? 1 / radius : 1;
    for (std::size_t v = 0; v < std::size_t(mesh->vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i) {
            float& p = mesh->vertices[v * floatsPerVertex + i];
            p = float((p - centre[i]) * scale);
        }
}

std::vector<std::uint32_t> pointIds(const MeshData& mesh) {
    std::vector<std::uint32_t> point(std::size_t(mesh.vertexCount));
    std::vector<float> points;
    Joiner joiner(&points, 3, 3, std::size_t(mesh.vertexCount));
    for (std::size_t v = 0; v < point.size(); ++v)
        point[v] = joiner.add(&mesh.vertices[v * floatsPerVertex]);
    return point;
}

std::vector<std::uint32_t> joinedPointIds(const MeshData& mesh) {
    for (std::size_t v = 0; v < std::size_t(mesh.vertexCount); ++v)
        for (std::size_t i = 3; i < 6; ++i)
            if (mesh.vertices[v * floatsPerVertex + i] != 0)
                return pointIds(mesh);
    std::vector<std::uint32_t> point(std::size_t(mesh.vertexCount));
    for (std::size_t v = 0; v < point.size(); ++v)
        point[v] = std::uint32_t(v);
    return point;
}

std::uint64_t dropRepeatedCorners(MeshData* mesh, const std::vector<std::uint32_t>& point) {
    std::size_t kept = 0;
    const std::size_t triangles = mesh->indices.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t) {
        const std::uint32_t* corner = &mesh->indices[3 * t];
        const std::uint32_t a = point[corner[0]], b = point[corner[1]], c = point[corner[2]];
        if (a == b || b == c || c == a)
            continue;
        std::copy(corner, corner + 3, &mesh->indices[3 * kept++]);
    }
    mesh->indices.resize(3 * kept);
    mesh->triangleCount = std::int32_t(kept);
    return triangles - kept;
}

std::size_t orientParts(MeshData* mesh, const std::vector<std::uint32_t>& point) {
    const std::size_t triangles = mesh->indices.size() / 3;
    const auto corner = [&](std::size_t t, int k) {
        return point[mesh->indices[3 * t + std::size_t(k)]];
    };
    const PointTriangles pointTriangles(*mesh, point);
    // The triangles on the edge from a to b, either way, found among the triangles of the end
    // that has fewer.
    std::vector<std::uint32_t> sharing;
    const auto findSharing = [&](std::uint32_t a, std::uint32_t b) {
        sharing.clear();
        const std::uint32_t p = pointTriangles.count(a) <= pointTriangles.count(b) ? a : b;
        const std::uint32_t q = p == a ? b : a;
        for (std::uint32_t i = pointTriangles.start[p]; i < pointTriangles.start[p + 1]; ++i) {
            const std::uint32_t t = pointTriangles.around[i];
            if (corner(t, 0) == q || corner(t, 1) == q || corner(t, 2) == q)
                sharing.push_back(t);
        }
    };
    // Whether triangle t runs from a to b along one of its edges.
    const auto runs = [&](std::size_t t, std::uint32_t a, std::uint32_t b) {
        for (int k = 0; k < 3; ++k)
            if (corner(t, k) == a && corner(t, (k + 1) % 3) == b)
                return true;
        return false;
    };

    // Walks each part from a seed, deciding each triangle's winding against the one it was
    // reached from: a shared edge must run in opposite directions.
    std::vector<int> flip(triangles, -1); // -1 not reached, else 0 or 1
    std::vector<std::uint32_t> part, queue;
    std::size_t changed = 0;
    for (std::size_t seed = 0; seed < triangles; ++seed) {
        if (flip[seed] >= 0)
            continue;
        part.clear();
        queue.assign(1, std::uint32_t(seed));
        flip[seed] = 0;
        bool closed = true;
        while (!queue.empty()) {
            const std::uint32_t t = queue.back();
            queue.pop_back();
            part.push_back(t);
            for (int k = 0; k < 3; ++k) {
                std::uint32_t a = corner(t, k), b = corner(t, (k + 1) % 3);
                if (a == b) { // a degenerate triangle: no orientation to follow
                    closed = false;
                    continue;
                }
                findSharing(a, b);
                if (sharing.size() != 2)
                    closed = false;
                if (flip[t])
                    std::swap(a, b);
                for (std::uint32_t other : sharing) {
                    if (other == t)
                        continue;
                    const int wanted = runs(other, a, b) ? 1 : 0; // same direction: turn it
                    if (flip[other] < 0) {
                        flip[other] = wanted;
                        queue.push_back(other);
                    } else if (flip[other] != wanted) {
                        closed = false; // cannot be wound consistently (or not a manifold)
                    }
                }
            }
        }
        if (!closed)
            continue;
        Vector origin = positionOf(*mesh, mesh->indices[3 * part[0]]);
        double volume = 0;
        for (std::uint32_t t : part) {
            const Vector a = minus(positionOf(*mesh, mesh->indices[3 * t]), origin);
            const Vector b = minus(positionOf(*mesh, mesh->indices[3 * t + 1]), origin);
            const Vector c = minus(positionOf(*mesh, mesh->indices[3 * t + 2]), origin);
            volume += (flip[t] ? -1 : 1) * dot(a, cross(b, c));
        }
        for (std::uint32_t t : part)
            if ((flip[t] != 0) != (volume < 0)) {
                std::swap(mesh->indices[3 * t + 1], mesh->indices[3 * t + 2]);
                ++changed;
            }
    }

    return changed;
}

std::size_t orientOutward(MeshData* mesh) {
    const std::size_t changed = orientParts(mesh, pointIds(*mesh));
    setNormals(mesh);
    return changed;
}
