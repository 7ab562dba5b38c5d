#pragma once

// Models in any format Assimp reads (OBJ, PLY, STL, glTF, ...) turned into the viewer's mesh:
// one triangle list with a position and a normal per vertex.

#include "meshfile.h"

#include <cstdint>
#include <string>

// The file's axis that becomes the viewer's up (+y), by a rotation (never a mirror).
struct UpAxis {
    int axis = 1; // 0 x, 1 y, 2 z
    int sign = 1; // +1 or -1
};

struct MeshImportOptions {
    bool recomputeNormals = false; // ignore the file's normals
    bool keepScale = false;        // keep the file's units instead of centring to unit radius
    UpAxis up;
    std::uint64_t memoryLimit = 0; // the importer's address space in bytes; 0: no limit
    int timeoutSeconds = 0;        // the importer's time; 0: no limit
};

// Parses "x", "y", "z", "-x", "-y" or "-z" (a leading '+' allowed). False for anything else.
bool parseUpAxis(const std::string& text, UpAxis* up);

// Reads a model in this process: all its meshes with their node transforms applied, faces
// triangulated, points and lines dropped, identical vertices joined. Every file is opened
// through ModelFolderIO; an import that Assimp's validation refuses or that logs an error is
// refused with that error. Indices are checked, and non-finite positions or normals refused.
// Each closed part is wound and its normals turned to point outward (orientOutward). Meshes
// without normals (all, with recomputeNormals) get area-weighted ones: each vertex's is the
// normalised sum of its triangles' cross products. The model is turned so that options.up is
// +y, then, unless keepScale, centred on its bounding box and scaled so that its farthest
// vertex lies at distance 1. Returns "" or "PATH: message" (one line).
// The limits in the options are not applied here: see importMeshContained.
std::string importMesh(const std::string& path, const MeshImportOptions& options, MeshData* mesh);

// importMesh run in a child process under options.memoryLimit and options.timeoutSeconds
// (runContained). A crash, the memory limit or the time limit gives a one-line refusal:
// "PATH: the model importer crashed", "PATH: needs more than 4 GB", "PATH: the model importer
// took more than 60 s".
std::string importMeshContained(const std::string& path, const MeshImportOptions& options,
                                MeshData* mesh);

// Winds each closed part of the mesh outward. A part is the triangles connected through shared
// edges (vertices at equal positions count as one, so flat-shaded corners connect); it is
// closed when every edge of it belongs to exactly two of its triangles and its triangles can
// be wound consistently. Such a part is wound so, then reversed when its signed volume is
// negative. Open parts keep the file's winding. Then every vertex normal that points against
// its triangles is negated, so normals follow the winding. Returns the number of triangles
// whose winding changed.
std::size_t orientOutward(MeshData* mesh);
