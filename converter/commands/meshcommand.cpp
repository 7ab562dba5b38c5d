// tessary-vol mesh: a model Assimp reads to the viewer's .dat mesh.

#include "commands.h"

#include "contained.h"
#include "meshimport.h"
#include "output.h"

#include <QFile>

#include <cstdio>

namespace {
const char name[] = "mesh";

const char help[] = R"(usage: tessary-vol mesh MODEL -o OUT.dat [OPTIONS]
Converts a model in any format Assimp reads (OBJ, PLY, STL, glTF, ...) to the viewer's .dat
mesh: every mesh of the file with its transforms applied, faces triangulated, points and lines
left out, identical vertices joined. Only triangles with two corners at one position are
dropped; the closing line counts them. Materials are ignored (a missing .mtl too), as the
viewer shows geometry only. Vertices without normals get area-weighted ones. Each
closed part is turned to face outward, whatever the file's winding and normals say. The model
is centred on its bounding box and scaled to unit radius, as the bundled bunny is.
The importer runs in a child process under a memory and a time limit; the model and the files
it names must be regular files in the model's folder or below it.

)";

QString readNormals(const QString&, MeshImportOptions* options) {
    options->recomputeNormals = true;
    return QString();
}

QString readKeepScale(const QString&, MeshImportOptions* options) {
    options->keepScale = true;
    return QString();
}

QString readUp(const QString& value, MeshImportOptions* options) {
    return parseUpAxis(value.toStdString(), &options->up) ? QString()
                                                          : "--up takes x, y, z, -x, -y or -z";
}

QString readMemoryLimit(const QString& value, MeshImportOptions* options) {
    bool good = true;
    const qulonglong mib = value.toULongLong(&good);
    if (!good || mib < 1 || mib > (qulonglong(1) << 30))
        return "--memory-limit takes a size in MiB, 1 or more";
    options->memoryLimit = std::uint64_t(mib) << 20;
    return QString();
}

QString readTimeout(const QString& value, MeshImportOptions* options) {
    return readIntegerIn(value, 1, 86400, &options->timeoutSeconds)
               ? QString()
               : "--timeout takes seconds, 1 to 86400";
}

const std::vector<OptionReader<MeshImportOptions>>& readers() {
    static const std::vector<OptionReader<MeshImportOptions>> table = {
        {{"o,output", "OUT.dat", "the mesh to write (required)"}, nullptr},
        {{"recompute-normals", "", "ignores the file's normals and computes area-weighted ones"},
         readNormals},
        {{"keep-scale", "", "keeps the file's positions and units"}, readKeepScale},
        {{"up", "AXIS",
          "the file's axis that points up: x, y (default), z, -x, -y, -z (CAD and scanner "
          "files are often z-up)"},
         readUp},
        {{"memory-limit", "MB",
          "the importer's address space in MiB (default: the smaller of 4096 and half the "
          "available memory)"},
         readMemoryLimit},
        {{"timeout", "SECONDS", "the importer's CPU time (default: 60)"}, readTimeout},
    };
    return table;
}

int runMesh(const QCommandLineParser& parser) {
    const QString input = parser.positionalArguments()[0];
    const QString output = outputWithExtension(parser, name, ".dat");
    if (output.isEmpty())
        return 2;
    MeshImportOptions options;
    options.memoryLimit = defaultMemoryLimit();
    options.timeoutSeconds = 60;
    const QString usage = readOptions(parser, readers(), &options);
    if (!usage.isEmpty())
        return usageError(name, usage);
    std::string failure = checkOutputPath(output, {input});
    if (!failure.empty())
        return inputError(failure);
    ImportReport report;
    failure = importMeshContained(
        QFile::encodeName(input).toStdString(), options,
        [&](const unsigned char* data, std::size_t size) {
            return saveWholeFile(output, reinterpret_cast<const char*>(data), qint64(size));
        },
        &report);
    if (!failure.empty())
        return inputError(failure);
    const float *low = report.lowest, *high = report.highest;
    std::printf(
        "%s: %d vertices, %d triangles%s, min (%.3f, %.3f, %.3f) max (%.3f, %.3f, %.3f)%s\n",
        qPrintable(output), report.vertexCount, report.triangleCount, report.droppedText().c_str(),
        low[0], low[1], low[2], high[0], high[1], high[2], report.ignoredText().c_str());
    return 0;
}
} // namespace

Command meshCommand() {
    return {name,
            "mesh MODEL -o OUT.dat",
            "a model Assimp reads (OBJ, PLY, STL, glTF, ...) to a mesh",
            help,
            declarations(readers()),
            1,
            1,
            runMesh};
}
