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

namespace {
// The parts of a mesh walked through shared edges, each triangle's winding decided against the
// one it was reached from: a shared edge must run in opposite directions.
class PartWalk {
public:
    PartWalk(const MeshData& mesh, const std::vector<std::uint32_t>& point)
        : mesh(mesh), point(point), pointTriangles(mesh, point), flip(mesh.indices.size() / 3, -1) {
    }

    // Walks the part of seed into part, unless an earlier walk reached it: whether it did and
    // the part is closed (every edge in exactly two of its triangles, wound consistently).
    bool walk(std::size_t seed, std::vector<std::uint32_t>* part) {
        part->clear();
        if (flip[seed] >= 0)
            return false;
        queue.assign(1, std::uint32_t(seed));
        flip[seed] = 0;
        bool closed = true;
        while (!queue.empty()) {
            const std::uint32_t t = queue.back();
            queue.pop_back();
            part->push_back(t);
            for (int k = 0; k < 3; ++k)
                closed = followEdge(t, k) && closed;
        }
        return closed;
    }

    // Whether triangle t is to be turned against the seed of its part.
    bool flipped(std::uint32_t t) const { return flip[t] > 0; }

private:
    std::uint32_t corner(std::size_t t, int k) const {
        return point[mesh.indices[3 * t + std::size_t(k)]];
    }

    // Reaches the triangles across edge k of t; false when the edge is not shared by exactly
    // two triangles or cannot be wound consistently (or belongs to no manifold).
    bool followEdge(std::uint32_t t, int k) {
        std::uint32_t a = corner(t, k), b = corner(t, (k + 1) % 3);
        if (a == b) // a degenerate triangle: no orientation to follow
            return false;
        findSharing(a, b);
        bool closed = sharing.size() == 2;
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
                closed = false;
            }
        }
        return closed;
    }

    // The triangles on the edge from a to b, either way, found among the triangles of the end
    // that has fewer.
    void findSharing(std::uint32_t a, std::uint32_t b) {
        sharing.clear();
        const std::uint32_t p = pointTriangles.count(a) <= pointTriangles.count(b) ? a : b;
        const std::uint32_t q = p == a ? b : a;
        for (std::uint32_t i = pointTriangles.start[p]; i < pointTriangles.start[p + 1]; ++i) {
            const std::uint32_t t = pointTriangles.around[i];
            if (corner(t, 0) == q || corner(t, 1) == q || corner(t, 2) == q)
                sharing.push_back(t);
        }
    }

    // Whether triangle t runs from a to b along one of its edges.
    bool runs(std::size_t t, std::uint32_t a, std::uint32_t b) const {
        for (int k = 0; k < 3; ++k)
            if (corner(t, k) == a && corner(t, (k + 1) % 3) == b)
                return true;
        return false;
    }

    const MeshData& mesh;
    const std::vector<std::uint32_t>& point;
    const PointTriangles pointTriangles;
    std::vector<int> flip; // -1 not reached, else 0 or 1
    std::vector<std::uint32_t> queue, sharing;
};

// The part's signed volume (times 6) as the walk winds it.
double signedVolume(const MeshData& mesh, const std::vector<std::uint32_t>& part,
                    const PartWalk& walk) {
    const Vector origin = positionOf(mesh, mesh.indices[3 * part[0]]);
    double volume = 0;
    for (std::uint32_t t : part) {
        const Vector a = minus(positionOf(mesh, mesh.indices[3 * t]), origin);
        const Vector b = minus(positionOf(mesh, mesh.indices[3 * t + 1]), origin);
        const Vector c = minus(positionOf(mesh, mesh.indices[3 * t + 2]), origin);
        volume += (walk.flipped(t) ? -1 : 1) * dot(a, cross(b, c));
    }
    return volume;
}
} // namespace

std::size_t orientParts(MeshData* mesh, const std::vector<std::uint32_t>& point) {
    PartWalk walk(*mesh, point);
    std::vector<std::uint32_t> part;
    std::size_t changed = 0;
    for (std::size_t seed = 0; seed < mesh->indices.size() / 3; ++seed) {
        if (!walk.walk(seed, &part))
            continue;
        const bool inward = signedVolume(*mesh, part, walk) < 0;
        for (std::uint32_t t : part)
            if (walk.flipped(t) != inward) {
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
