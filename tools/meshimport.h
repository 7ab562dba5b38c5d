#pragma once

// Models in any format Assimp reads (OBJ, PLY, STL, glTF, ...) turned into the viewer's mesh:
// one triangle list with a position and a normal per vertex.

#include "meshfile.h"

#include <QString>

#include <string>

struct MeshImportOptions {
    bool recomputeNormals = false; // ignore the file's normals
    bool keepScale = false;        // keep the file's units instead of centring to unit radius
};

// Reads a model: all its meshes with their node transforms applied, faces triangulated, points
// and lines dropped, identical vertices joined. Meshes without normals (all, with
// recomputeNormals) get area-weighted ones: each vertex's is the normalised sum of its
// triangles' cross products. Unless keepScale, the model is centred on its bounding box and
// scaled so that its farthest vertex lies at distance 1. Returns "" or the message.
std::string importMesh(const QString& path, const MeshImportOptions& options, MeshData* mesh);
