#include "meshfile.h"

#include "files.h"
#include "littleendian.h"

#include <algorithm>
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
    // Vertex records come in blocks: a read call per value would dominate for big meshes.
    std::vector<unsigned char> block(std::size_t(vertexRecordSize) * 4096);
    for (std::int32_t first = 0; first < v; first += 4096) {
        const std::size_t records = std::size_t(std::min(v - first, 4096));
        if (std::fread(block.data(), vertexRecordSize, records, file) != records)
            return "file too short: truncated mesh";
        for (std::size_t i = 0; i < records; ++i) {
            float* record = &read.vertices[(std::size_t(first) + i) * floatsPerVertex];
            for (std::size_t k = 0; k < 6; ++k) {
                const std::uint32_t word = littleEndianWord(&block[i * vertexRecordSize + 4 * k]);
                std::memcpy(&record[k], &word, sizeof word);
            }
            for (int k = 0; k < 3; ++k)
                record[6 + k] = textureRepeats * record[k];
        }
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
// Stores the word little-endian at out; returns the place after it.
unsigned char* putWord(unsigned char* out, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(word >> (8 * i));
    return out + 4;
}
} // namespace

std::size_t encodedMeshSize(const MeshData& mesh) {
    return headerSize + std::size_t(mesh.vertexCount) * vertexRecordSize +
           std::size_t(mesh.triangleCount) * triangleRecordSize;
}

void encodeMeshInto(const MeshData& mesh, unsigned char* out) {
    out = putWord(out, std::uint32_t(mesh.vertexCount));
    out = putWord(out, std::uint32_t(mesh.triangleCount));
    for (std::size_t i = 0; i < std::size_t(mesh.vertexCount); ++i) {
        for (int k = 0; k < 6; ++k) {
            std::uint32_t word;
            std::memcpy(&word, &mesh.vertices[i * floatsPerVertex + std::size_t(k)], 4);
            out = putWord(out, word);
        }
    }
    for (std::size_t i = 0; i < std::size_t(mesh.triangleCount) * 3; ++i)
        out = putWord(out, mesh.indices[i]);
}

std::vector<unsigned char> encodeMesh(const MeshData& mesh) {
    std::vector<unsigned char> bytes(encodedMeshSize(mesh));
    encodeMeshInto(mesh, bytes.data());
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
