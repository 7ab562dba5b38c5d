// The model import path in this process, through the confined I/O system: Assimp's readers of
// the formats users bring most (OBJ, PLY, OFF, STL, glTF), then the checks, the orientation and
// the normals. It looks for what validation lets through. The first byte picks the format; the
// rest is the file. Beside it lie a buffer file a glTF may name and a FIFO, which must be
// refused, never waited on.

#include "fuzzsupport.h"
#include "meshimport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

using namespace meshLayout;

namespace {
// A scratch folder for the whole run, removed at exit.
struct Folder {
    std::string path;
    Folder() {
        char name[] = "/tmp/model_fuzzer.XXXXXX";
        FUZZ_CHECK(mkdtemp(name));
        path = name;
        FileHandle buffer = openFile((path + "/buffer.bin").c_str(), "wb");
        for (int i = 0; i < 256; ++i)
            std::fputc(i * 37, buffer.get());
        FUZZ_CHECK(mkfifo((path + "/fifo").c_str(), 0600) == 0);
    }
    ~Folder() {
        for (const char* name : {"/buffer.bin", "/fifo", "/model.obj", "/model.ply", "/model.off",
                                 "/model.stl", "/model.gltf"})
            unlink((path + name).c_str());
        rmdir(path.c_str());
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    if (size == 0)
        return 0;
    static const char* const formats[] = {"obj", "ply", "off", "stl", "gltf"};
    const char* format = data[0] == 'o'   ? "obj"
                         : data[0] == 'p' ? "ply"
                         : data[0] == 'f' ? "off"
                         : data[0] == 's' ? "stl"
                         : data[0] == 'g' ? "gltf"
                                          : formats[data[0] % 5];
    const std::string path = folder.path + "/model." + format;
    {
        FileHandle file = openFile(path.c_str(), "wb");
        FUZZ_CHECK(file && std::fwrite(data + 1, 1, size - 1, file.get()) == size - 1);
    }
    MeshData mesh;
    const std::string failure = importMesh(path, MeshImportOptions(), &mesh);
    unlink(path.c_str());
    if (!failure.empty()) {
        // One line naming the file; nothing handed out.
        FUZZ_CHECK(failure.compare(0, path.size() + 2, path + ": ") == 0);
        FUZZ_CHECK(failure.find('\n') == std::string::npos);
        FUZZ_CHECK(mesh.vertexCount == 0 && mesh.vertices.empty() && mesh.indices.empty());
        return 0;
    }
    const std::size_t v = std::size_t(mesh.vertexCount), t = std::size_t(mesh.triangleCount);
    FUZZ_CHECK(v > 0 && t > 0);
    FUZZ_CHECK(mesh.vertices.size() == v * floatsPerVertex && mesh.indices.size() == 3 * t);
    for (std::uint32_t index : mesh.indices)
        FUZZ_CHECK(index < v);
    // Centred to unit radius, finite, with unit normals.
    for (std::size_t i = 0; i < v; ++i) {
        const float* p = &mesh.vertices[i * floatsPerVertex];
        for (int k = 0; k < 9; ++k)
            FUZZ_CHECK(std::isfinite(p[k]));
        FUZZ_CHECK(std::hypot(p[0], p[1], p[2]) <= 1.001);
        const double length = std::hypot(p[3], p[4], p[5]);
        FUZZ_CHECK(std::fabs(length - 1) < 1e-3 || length == 0);
    }
    return 0;
}
