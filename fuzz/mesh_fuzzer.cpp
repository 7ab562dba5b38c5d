// The .dat mesh decoder and the bounds the loader prints.

#include "fuzzsupport.h"
#include "meshfile.h"

#include <cmath>
#include <cstring>

using namespace meshLayout;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FileHandle file = openBytes(data, size);
    FUZZ_CHECK(file);
    MeshData mesh;
    if (!readMesh(file.get(), &mesh).empty()) {
        // A refused file leaves the record as it was.
        FUZZ_CHECK(mesh.vertexCount == 0 && mesh.vertices.empty() && mesh.indices.empty());
        return 0;
    }
    const std::size_t v = std::size_t(mesh.vertexCount);
    const std::size_t t = std::size_t(mesh.triangleCount);
    FUZZ_CHECK(mesh.vertexCount >= 0 && mesh.triangleCount >= 0);
    FUZZ_CHECK(headerSize + vertexRecordSize * v + triangleRecordSize * t <= size);
    FUZZ_CHECK(mesh.vertices.size() == v * floatsPerVertex && mesh.indices.size() == 3 * t);
    // GL draws these indices from a buffer of v vertices.
    for (std::uint32_t index : mesh.indices)
        FUZZ_CHECK(index < v);
    // Positions and normals are the file's bits.
    for (std::size_t i = 0; i < v; ++i)
        FUZZ_CHECK(std::memcmp(&mesh.vertices[i * floatsPerVertex],
                               data + headerSize + i * vertexRecordSize, vertexRecordSize) == 0);

    float lowest[3], highest[3];
    meshBounds(mesh, lowest, highest);
    for (std::size_t i = 0; i < v; ++i)
        for (int k = 0; k < 3; ++k) {
            const float p = mesh.vertices[i * floatsPerVertex + std::size_t(k)];
            FUZZ_CHECK(std::isnan(p) || (lowest[k] <= p && p <= highest[k]));
        }
    return 0;
}
