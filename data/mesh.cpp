#include <GL/glew.h>

#include "mesh.h"

#include "fatalerror.h"
#include "helpers.h"

#include <climits>
#include <cstdio>
#include <new>

std::int32_t meshVertexCount = 0;
std::int32_t meshTriangleCount = 0;
std::vector<float> meshVertices;
std::vector<std::uint32_t> meshIndices;
unsigned int meshVertexBuffer = 0;
unsigned int meshIndexBuffer = 0;
QString inputDirectory = QStringLiteral("input/");

namespace {
const int floatsPerVertex = 9; // position, normal, texture coordinate
const GLsizei stride = floatsPerVertex * sizeof(float);

} // namespace

void loadMesh(const QString& name) {
    const QByteArray name8 = name.toLocal8Bit();
    std::printf("loading '%s'... ", name8.constData());
    const std::string path =
        formatString("%s/%s.dat", inputDirectory.toLocal8Bit().constData(), name8.constData());
    FileHandle handle = openFile(path.c_str(), "rb");
    std::FILE* file = handle.get();
    if (!file)
        fatalError("can't open input file");

    const std::int32_t v = readInt(file);
    const std::int32_t t = readInt(file);
    // The counts are checked against the file before anything is allocated, so a damaged
    // header can neither make us allocate wildly nor read past the end.
    if (v < 0 || t < 0)
        fatalError("bad mesh: negative count");
    if (t > INT_MAX / 3)
        fatalError("bad mesh: too many triangles");
    const long available = remainingBytes(file);
    if (available < 0 || std::uint64_t(available) < 24 * std::uint64_t(v) + 12 * std::uint64_t(t))
        fatalError("file too short: truncated mesh");

    std::vector<float> vertices;
    std::vector<std::uint32_t> indices;
    try {
        vertices.resize(std::size_t(v) * floatsPerVertex);
        indices.resize(std::size_t(t) * 3);
    } catch (const std::bad_alloc&) {
        fatalError("out of memory: mesh too large");
    }
    for (std::int32_t i = 0; i < v; ++i) {
        float* record = &vertices[std::size_t(i) * floatsPerVertex];
        for (int k = 0; k < 6; ++k)
            record[k] = readFloat(file);
        // One unit of model space spans three repeats of the volume.
        for (int k = 0; k < 3; ++k)
            record[6 + k] = 3.0f * record[k];
    }
    if (std::fread(indices.data(), 4, indices.size(), file) != indices.size())
        fatalError("file too short: truncated mesh");
    handle.reset();
    for (std::uint32_t& index : indices) {
        // The file is little-endian; on a little-endian host this is the identity.
        index = littleEndianWord(reinterpret_cast<const unsigned char*>(&index));
        // GL must never read past the vertex buffer.
        if (index >= std::uint32_t(v))
            fatalError("bad mesh: index out of range");
    }

    float lo[3] = {1e17f, 1e17f, 1e17f};
    float hi[3] = {-1e17f, -1e17f, -1e17f};
    for (std::int32_t i = 0; i < v; ++i) {
        for (int k = 0; k < 3; ++k) {
            const float p = vertices[std::size_t(i) * floatsPerVertex + k];
            lo[k] = p < lo[k] ? p : lo[k];
            hi[k] = p > hi[k] ? p : hi[k];
        }
    }
    std::printf("min: (%.2f, %.2f, %.2f) max: (%.2f, %.2f, %.2f)\n", lo[0], lo[1], lo[2], hi[0],
                hi[1], hi[2]);

    // The state changes only once the whole file has been read and checked.
    meshVertices.swap(vertices);
    meshIndices.swap(indices);
    meshVertexCount = v;
    meshTriangleCount = t;

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
    glNormalPointer(GL_FLOAT, stride, reinterpret_cast<const void*>(3 * sizeof(float)));
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(3, GL_FLOAT, stride, reinterpret_cast<const void*>(6 * sizeof(float)));
    std::printf("[done]\n");
}

void drawMesh() {
    if (meshVertexCount == 0 || meshTriangleCount == 0)
        return;
    glBindBufferARB(GL_ARRAY_BUFFER_ARB, meshVertexBuffer);
    glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer);
    glDrawElements(GL_TRIANGLES, 3 * meshTriangleCount, GL_UNSIGNED_INT, nullptr);
}
