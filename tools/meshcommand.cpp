// tessary-vol mesh: a model Assimp reads to the viewer's .dat mesh.

#include "commands.h"

#include "meshimport.h"
#include "output.h"

#include <cstdio>

namespace {
const char name[] = "mesh";

const char help[] = R"(usage: tessary-vol mesh MODEL -o OUT.dat [OPTIONS]
Converts a model in any format Assimp reads (OBJ, PLY, STL, glTF, ...) to the viewer's .dat
mesh: every mesh of the file with its transforms applied, faces triangulated, points and lines
dropped, identical vertices joined. Vertices without normals get area-weighted ones. The model
is centred on its bounding box and scaled to unit radius, as the bundled bunny is.

options:
  -o, --output OUT.dat      the mesh to write (required)
  --recompute-normals       ignores the file's normals and computes area-weighted ones
  --keep-scale              keeps the file's positions and units
)";

int runMesh(const QCommandLineParser& parser) {
    const QString input = parser.positionalArguments()[0];
    const QString output = outputWithExtension(parser, name, ".dat");
    if (output.isEmpty())
        return 2;
    MeshImportOptions options;
    options.recomputeNormals = parser.isSet("recompute-normals");
    options.keepScale = parser.isSet("keep-scale");
    std::string failure = checkOutputPath(output, {input});
    if (!failure.empty())
        return inputError(failure);
    MeshData mesh;
    failure = readingInput(input, [&] { return importMesh(input, options, &mesh); });
    if (!failure.empty())
        return inputError(failure);
    const std::vector<unsigned char> bytes = encodeMesh(mesh);
    failure =
        saveWholeFile(output, reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    if (!failure.empty())
        return inputError(failure);
    float low[3], high[3];
    meshBounds(mesh, low, high);
    std::printf("%s: %d vertices, %d triangles, min (%.3f, %.3f, %.3f) max (%.3f, %.3f, %.3f)\n",
                qPrintable(output), mesh.vertexCount, mesh.triangleCount, low[0], low[1], low[2],
                high[0], high[1], high[2]);
    return 0;
}
} // namespace

Command meshCommand() {
    return {name,
            "mesh MODEL -o OUT.dat",
            "a model Assimp reads (OBJ, PLY, STL, glTF, ...) to a mesh",
            help,
            {{{"o", "output"}, "output", "OUT"},
             {"recompute-normals", "normals"},
             {"keep-scale", "scale"}},
            1,
            1,
            runMesh};
}
