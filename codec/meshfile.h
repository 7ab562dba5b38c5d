#pragma once

// The .dat mesh file: one home for its layout. Little-endian: int32 vertex count V, int32
// triangle count T, V records of six float32 (position x, y, z, normal x, y, z), then 3 * T
// uint32 vertex indices.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace meshLayout {
const int headerSize = 8;          // the two counts
const int vertexRecordSize = 24;   // six float32
const int triangleRecordSize = 12; // three uint32
const int floatsPerVertex = 9;     // in memory: position, normal, texture coordinate
const float textureRepeats = 3.0f; // texture coordinate = textureRepeats * position
} // namespace meshLayout

// A mesh as the viewer holds it: per vertex the file's position and normal followed by the
// derived texture coordinate, and the file's indices, each checked to be below V.
struct MeshData {
    std::int32_t vertexCount = 0;
    std::int32_t triangleCount = 0;
    std::vector<float> vertices;        // floatsPerVertex floats per vertex
    std::vector<std::uint32_t> indices; // three per triangle
};

// Reads a whole mesh from the stream's position. Returns "" or the message; the counts are
// checked against the stream's length before anything is allocated.
[[nodiscard]] std::string readMesh(std::FILE* file, MeshData* mesh);

// The file bytes of a mesh: its counts, each vertex's position and normal, its indices. The
// texture coordinates are not stored; readMesh derives them again.
std::vector<unsigned char> encodeMesh(const MeshData& mesh);

// The size of those bytes, and the same bytes written to out, which has room for them.
std::size_t encodedMeshSize(const MeshData& mesh);
void encodeMeshInto(const MeshData& mesh, unsigned char* out);

// The smallest and largest position component along each axis; (1e17, ...) and (-1e17, ...)
// when there are no vertices.
void meshBounds(const MeshData& mesh, float lowest[3], float highest[3]);
