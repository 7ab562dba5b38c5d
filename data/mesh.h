#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The one mesh, kept in memory and in two static buffer objects.
extern std::int32_t meshVertexCount;           // V; 0
extern std::int32_t meshTriangleCount;         // T; 0
extern std::vector<float> meshVertices;        // per vertex: position, normal, 3 * position
extern std::vector<std::uint32_t> meshIndices; // three vertex indices per triangle
extern unsigned int meshVertexBuffer;          // buffer holding meshVertices; 0 until a load
extern unsigned int meshIndexBuffer;           // buffer holding meshIndices; 0 until a load

// Loads inputFolder/NAME.dat into the buffers and leaves the vertex, normal and texture
// coordinate arrays enabled and pointing into them. Needs the panel's GL context current.
// Prints its progress and the bounding box; every failure is fatal.
void loadMesh(const QString& name);

// Draws the whole mesh as triangles with the caller's texture, program and matrices.
void drawMesh();
