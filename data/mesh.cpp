#include <GL/glew.h>

#include "mesh.h"

#include "fatalerror.h"
#include "files.h"
#include "meshfile.h"

#include <cstdio>

std::int32_t meshVertexCount = 0;
std::int32_t meshTriangleCount = 0;
std::vector<float> meshVertices;
std::vector<std::uint32_t> meshIndices;
unsigned int meshVertexBuffer = 0;
unsigned int meshIndexBuffer = 0;

namespace {
const GLsizei stride = meshLayout::floatsPerVertex * sizeof(float);
const std::size_t normalOffset = 3 * sizeof(float);
const std::size_t textureOffset = 6 * sizeof(float);
} // namespace

void loadMesh(const QString& name) {
    const QByteArray name8 = name.toLocal8Bit();
    std::printf("loading '%s'... ", name8.constData());
    const std::string path = inputPath(name8.toStdString() + ".dat");
    FileHandle file = openFile(path.c_str(), "rb");
    if (!file)
        fatalError(inputMessages::cantOpen);
    MeshData mesh;
    const std::string failure = readMesh(file.get(), &mesh);
    if (!failure.empty())
        fatalError(failure);
    file.reset();

    float lo[3], hi[3];
    meshBounds(mesh, lo, hi);
    std::printf("min: (%.2f, %.2f, %.2f) max: (%.2f, %.2f, %.2f)\n", lo[0], lo[1], lo[2], hi[0],
                hi[1], hi[2]);

    // The state changes only once the whole file has been read and checked.
    meshVertices = std::move(mesh.vertices);
    meshIndices = std::move(mesh.indices);
    meshVertexCount = mesh.vertexCount;
    meshTriangleCount = mesh.triangleCount;

    if (meshVertexBuffer == 0) {
        glGenBuffersARB(1, &meshVertexBuffer);
        glGenBuffersARB(1, &meshIndexBuffer);
    }
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, meshVertexBuffer);
    glBufferDataARB(GL_ARRAY_BUFFER_ARB, GLsizeiptrARB(meshVertices.size() * sizeof(float)),
                    meshVertices.data(), GL_STATIC_DRAW_ARB);
    glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer);
    glBufferDataARB(GL_ELEMENT_ARRAY_BUFFER_ARB,
                    GLsizeiptrARB(meshIndices.size() * sizeof(std::uint32_t)), meshIndices.data(),
                    GL_STATIC_DRAW_ARB);

    // The pointers are offsets into the bound vertex buffer and stay set for the whole run.
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, reinterpret_cast<const void*>(0));
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, stride, reinterpret_cast<const void*>(normalOffset));
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(3, GL_FLOAT, stride, reinterpret_cast<const void*>(textureOffset));
    std::printf("[done]\n");
}

void drawMesh() {
    if (meshVertexCount == 0 || meshTriangleCount == 0)
        return;
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, meshVertexBuffer);
    glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer);
    glDrawElements(GL_TRIANGLES, 3 * meshTriangleCount, GL_UNSIGNED_INT, nullptr);
}
