#include "meshfile.h"

#include "helpers.h"

#include <climits>
#include <cstring>
#include <new>

using namespace meshLayout;

std::string readMesh(std::FILE* file, MeshData* mesh) {
    const long length = remainingBytes(file);
    if (length < headerSize)
        return "file too short: truncated mesh";
    const std::int32_t v = readInt(file);
    const std::int32_t t = readInt(file);
    if (v < 0 || t < 0)
        return "bad mesh: negative count";
    if (t > INT_MAX / 3) // GL draws 3 * T indices, a GLsizei
        return "bad mesh: too many triangles";
    if (std::uint64_t(length - headerSize) <
        std::uint64_t(vertexRecordSize) * std::uint64_t(v) +
            std::uint64_t(triangleRecordSize) * std::uint64_t(t))
        return "file too short: truncated mesh";

    MeshData read;
    try {
        read.vertices.resize(std::size_t(v) * floatsPerVertex);
        read.indices.resize(std::size_t(t) * 3);
    } catch (const std::bad_alloc&) {
        return "out of memory: mesh too large";
    }
    for (std::int32_t i = 0; i < v; ++i) {
        float* record = &read.vertices[std::size_t(i) * floatsPerVertex];
        for (int k = 0; k < 6; ++k)
            record[k] = readFloat(file);
        for (int k = 0; k < 3; ++k)
            record[6 + k] = textureRepeats * record[k];
    }
    if (std::fread(read.indices.data(), 4, read.indices.size(), file) != read.indices.size())
        return "file too short: truncated mesh";
    for (std::uint32_t& index : read.indices) {
        // The file is little-endian; on a little-endian host this is the identity.
        index = littleEndianWord(reinterpret_cast<const unsigned char*>(&index));
        // GL must never read past the vertex buffer.
        if (index >= std::uint32_t(v))
            return "bad mesh: index out of range";
    }
    read.vertexCount = v;
    read.triangleCount = t;
    *mesh = std::move(read);
    return std::string();
}

namespace {
void putWord(std::vector<unsigned char>& bytes, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(word >> (8 * i)));
}
} // namespace

std::vector<unsigned char> encodeMesh(const MeshData& mesh) {
    std::vector<unsigned char> bytes;
    bytes.reserve(headerSize + std::size_t(mesh.vertexCount) * vertexRecordSize +
                  std::size_t(mesh.triangleCount) * triangleRecordSize);
    putWord(bytes, std::uint32_t(mesh.vertexCount));
    putWord(bytes, std::uint32_t(mesh.triangleCount));
    for (std::size_t i = 0; i < std::size_t(mesh.vertexCount); ++i) {
        for (int k = 0; k < 6; ++k) {
            std::uint32_t word;
            std::memcpy(&word, &mesh.vertices[i * floatsPerVertex + std::size_t(k)], 4);
            putWord(bytes, word);
        }
    }
    for (std::uint32_t index : mesh.indices)
        putWord(bytes, index);
    return bytes;
}

void meshBounds(const MeshData& mesh, float lowest[3], float highest[3]) {
    for (int k = 0; k < 3; ++k) {
        lowest[k] = 1e17f;
        highest[k] = -1e17f;
    }
    for (std::size_t i = 0; i < std::size_t(mesh.vertexCount); ++i) {
        for (int k = 0; k < 3; ++k) {
            const float p = mesh.vertices[i * floatsPerVertex + std::size_t(k)];
            lowest[k] = p < lowest[k] ? p : lowest[k];
            highest[k] = p > highest[k] ? p : highest[k];
        }
    }
}
