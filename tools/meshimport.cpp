#include "meshimport.h"

#include "helpers.h"
#include "inputfile.h"
#include "output.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <QFile>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

using namespace meshLayout;

namespace {
using Vector = std::array<double, 3>;

Vector positionOf(const MeshData& mesh, std::uint32_t vertex) {
    const float* p = &mesh.vertices[std::size_t(vertex) * floatsPerVertex];
    return {p[0], p[1], p[2]};
}

// Sums each triangle's cross product (twice its area, along its normal) into its corners and
// normalises the sums, for the vertices flagged in needsNormal.
void setAreaWeightedNormals(MeshData* mesh, const std::vector<bool>& needsNormal) {
    std::vector<Vector> sums(std::size_t(mesh->vertexCount), Vector{0, 0, 0});
    for (std::size_t t = 0; t < mesh->indices.size(); t += 3) {
        const std::uint32_t* corner = &mesh->indices[t];
        const Vector a = positionOf(*mesh, corner[0]), b = positionOf(*mesh, corner[1]),
                     c = positionOf(*mesh, corner[2]);
        const Vector e = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const Vector f = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const Vector cross = {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2],
                              e[0] * f[1] - e[1] * f[0]};
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i)
                sums[corner[k]][std::size_t(i)] += cross[std::size_t(i)];
    }
    for (std::size_t v = 0; v < sums.size(); ++v) {
        if (!needsNormal[v])
            continue;
        const Vector& s = sums[v];
        const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
        float* normal = &mesh->vertices[v * floatsPerVertex + 3];
        for (int i = 0; i < 3; ++i) // a vertex of no triangle area gets +z
            normal[i] = length > 0 ? float(s[std::size_t(i)] / length) : i == 2 ? 1.0f : 0.0f;
    }
}

// Moves the bounding box's centre to the origin and scales the farthest vertex to distance 1.
void centreToUnitRadius(MeshData* mesh) {
    float low[3], high[3];
    meshBounds(*mesh, low, high);
    const Vector centre = {0.5 * (double(low[0]) + high[0]), 0.5 * (double(low[1]) + high[1]),
                           0.5 * (double(low[2]) + high[2])};
    double radius = 0;
    for (std::uint32_t v = 0; v < std::uint32_t(mesh->vertexCount); ++v) {
        const Vector p = positionOf(*mesh, v);
        radius = std::max(radius, std::hypot(p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]));
    }
    const double scale = radius > 0 ? 1 / radius : 1;
    for (std::size_t v = 0; v < std::size_t(mesh->vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i) {
            float& p = mesh->vertices[v * floatsPerVertex + i];
            p = float((p - centre[i]) * scale);
        }
}
} // namespace

std::string importMesh(const QString& path, const MeshImportOptions& options, MeshData* mesh) {
    // Assimp opens files itself; only regular ones are handed to it, as everywhere.
    FileHandle file;
    const std::string failure = openInputFile(path, &file);
    if (!failure.empty())
        return failure;
    Assimp::Importer importer;
    // Only positions and normals reach the file, so nothing else may keep vertices apart when
    // identical ones are joined. Normals to be recomputed go before the join too, so that a
    // smooth surface gets smooth normals.
    importer.SetPropertyInteger(AI_CONFIG_PP_RVC_FLAGS,
                                aiComponent_TEXCOORDS | aiComponent_COLORS |
                                    aiComponent_TANGENTS_AND_BITANGENTS |
                                    (options.recomputeNormals ? int(aiComponent_NORMALS) : 0));
    importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true); // degenerate faces go
    const aiScene* scene = importer.ReadFile(
        QFile::encodeName(path).constData(),
        aiProcess_RemoveComponent | aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
            aiProcess_PreTransformVertices | aiProcess_FindDegenerates);
    if (!scene)
        return fileMessage(path, std::string("can't read model: ") + importer.GetErrorString());

    MeshData read;
    std::vector<bool> needsNormal;
    std::uint64_t vertices = 0, triangles = 0;
    for (unsigned int m = 0; m < scene->mNumMeshes; ++m) {
        vertices += scene->mMeshes[m]->mNumVertices;
        triangles += scene->mMeshes[m]->mNumFaces;
    }
    if (vertices > INT_MAX || triangles > INT_MAX / 3) // the viewer's limits
        return fileMessage(path, "model too large");
    for (unsigned int m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        const std::uint32_t first = std::uint32_t(read.vertexCount);
        for (unsigned int v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            const aiVector3D n = part->HasNormals() ? part->mNormals[v] : aiVector3D(0, 0, 1);
            read.vertices.insert(read.vertices.end(), {p.x, p.y, p.z, n.x, n.y, n.z, 0, 0, 0});
            needsNormal.push_back(!part->HasNormals());
        }
        read.vertexCount += std::int32_t(part->mNumVertices);
        for (unsigned int f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3)
                continue;
            for (int k = 0; k < 3; ++k)
                read.indices.push_back(first + face.mIndices[k]);
            ++read.triangleCount;
        }
    }
    if (read.triangleCount == 0)
        return fileMessage(path, "no triangles in this model");
    setAreaWeightedNormals(&read, needsNormal);
    if (!options.keepScale)
        centreToUnitRadius(&read);
    for (std::size_t v = 0; v < std::size_t(read.vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i)
            read.vertices[v * floatsPerVertex + 6 + i] =
                textureRepeats * read.vertices[v * floatsPerVertex + i];
    *mesh = std::move(read);
    return std::string();
}
