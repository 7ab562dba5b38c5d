#pragma once

// Models in any format Assimp reads (OBJ, PLY, STL, glTF, ...) turned into the viewer's mesh:
// one triangle list with a position and a normal per vertex.

#include "meshfile.h"
#include "meshsurface.h" // orientOutward

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// What an import left out or ignored, for the converter's closing line.
struct ImportReport {
    std::uint64_t repeatedCorners = 0; // triangles dropped: two corners at one position
    std::uint64_t pointsAndLines = 0;  // faces of one or two corners, left out
    // Why the model's materials were ignored in part (the viewer shows geometry only): an OBJ's
    // material library that is missing or unreadable, a material or value the reader does not
    // know. Distinct messages, the first few.
    std::vector<std::string> ignored;
    // The mesh importMeshContained handed on: its counts and the bounds of its positions.
    std::int32_t vertexCount = 0, triangleCount = 0;
    float lowest[3] = {}, highest[3] = {};

    // " (7 dropped: repeated corners; 2 points and lines left out)", or "" when nothing was.
    std::string droppedText() const;
    // "; materials ignored: MESSAGE, and N more messages", or "".
    std::string ignoredText() const;
};

namespace Assimp {
class Importer;
}

// Sets the importer's properties for importMesh and returns the post-processing steps it asks
// of Assimp (its own join, drop and orientation follow), so that a benchmark can time the same.
unsigned int prepareImporter(Assimp::Importer* importer, bool recomputeNormals);

// Parses "x", "y", "z", "-x", "-y" or "-z" (a leading '+' allowed). False for anything else.
bool parseUpAxis(const std::string& text, UpAxis* up);

// Reads a model in this process: all its meshes with their node transforms applied, faces
// triangulated, points and lines left out, vertices equal in position and normal joined (exact
// equality, so the file's units change nothing), and triangles dropped that have two corners at
// one position (no area, no facing). Every file is opened through ModelFolderIO; an
// import that Assimp's validation refuses or that logs an error is refused with that error,
// except the errors about an OBJ's materials, which are noted in the report. Indices are
// checked, and non-finite positions or normals refused.
// Each closed part is wound and its normals turned to point outward (orientOutward). Meshes
// without normals (all, with recomputeNormals) get area-weighted ones: each vertex's is the
// normalised sum of its triangles' cross products. The model is turned so that options.up is
// +y, then, unless keepScale, centred on its bounding box and scaled so that its farthest
// vertex lies at distance 1. Returns "" or "PATH: message" (one line).
// The limits in the options are not applied here: see importMeshContained.
[[nodiscard]] std::string importMesh(const std::string& path, const MeshImportOptions& options,
                                     MeshData* mesh, ImportReport* report = nullptr);

// Takes a .dat file's bytes (to write them out); returns "" or a one-line message.
using MeshFileSink = std::function<std::string(const unsigned char* data, std::size_t size)>;

// importMesh run in a child process under options.memoryLimit and options.timeoutSeconds
// (runContained). A crash, the memory limit or the time limit gives a one-line refusal:
// "PATH: the model importer crashed", "PATH: needs more than 4 GB", "PATH: the model importer
// took more than 60 s" (of CPU time, or three times that on the wall clock). The mesh comes
// back as the bytes of its .dat file, which are checked as the viewer checks the file (and for
// finite values) and handed to save; "" or the message, save's included.
[[nodiscard]] std::string importMeshContained(const std::string& path,
                                              const MeshImportOptions& options,
                                              const MeshFileSink& save,
                                              ImportReport* report = nullptr);
