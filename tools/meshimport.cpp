#include "meshimport.h"

#include "contained.h"
#include "helpers.h"
#include "modelio.h"
#include "output.h"

#include <QFile>

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <unordered_map>

using namespace meshLayout;

namespace {
using Vector = std::array<double, 3>;

Vector positionOf(const MeshData& mesh, std::uint32_t vertex) {
    const float* p = &mesh.vertices[std::size_t(vertex) * floatsPerVertex];
    return {p[0], p[1], p[2]};
}

Vector minus(const Vector& a, const Vector& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Vector cross(const Vector& e, const Vector& f) {
    return {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
}

double dot(const Vector& a, const Vector& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Twice the area of triangle t along its normal, as wound.
Vector triangleCross(const MeshData& mesh, std::size_t t) {
    const std::uint32_t* corner = &mesh.indices[3 * t];
    const Vector a = positionOf(mesh, corner[0]);
    return cross(minus(positionOf(mesh, corner[1]), a), minus(positionOf(mesh, corner[2]), a));
}

// Each vertex's sum of its triangles' cross products.
std::vector<Vector> cornerSums(const MeshData& mesh) {
    std::vector<Vector> sums(std::size_t(mesh.vertexCount), Vector{0, 0, 0});
    for (std::size_t t = 0; t < mesh.indices.size() / 3; ++t) {
        const Vector c = triangleCross(mesh, t);
        for (int k = 0; k < 3; ++k)
            for (std::size_t i = 0; i < 3; ++i)
                sums[mesh.indices[3 * t + std::size_t(k)]][i] += c[i];
    }
    return sums;
}

// Normalises the sums of each triangle's cross product (twice its area, along its normal) into
// the normals of the vertices flagged in needsNormal.
void setAreaWeightedNormals(MeshData* mesh, const std::vector<bool>& needsNormal) {
    const std::vector<Vector> sums = cornerSums(*mesh);
    for (std::size_t v = 0; v < sums.size(); ++v) {
        if (!needsNormal[v])
            continue;
        const Vector& s = sums[v];
        const double length = std::sqrt(dot(s, s));
        float* normal = &mesh->vertices[v * floatsPerVertex + 3];
        for (std::size_t i = 0; i < 3; ++i) // a vertex of no triangle area gets +z
            normal[i] = length > 0 && std::isfinite(length) ? float(s[i] / length)
                        : i == 2                            ? 1.0f
                                                            : 0.0f;
    }
}

// Moves the bounding box's centre to the origin and scales the farthest vertex to distance 1.
void centreToUnitRadius(MeshData* mesh) {
    float low[3], high[3];
    meshBounds(*mesh, low, high);
    const Vector centre = {0.5 * (double(low[0]) + high[0]), 0.5 * (double(low[1]) + high[1]),
                           0.5 * (double(low[2]) + high[2])};
    double radius = 0;
    for (std::uint32_t v = 0; v < std::uint32_t(mesh->vertexCount); ++v)
        radius = std::max(radius, std::sqrt(dot(minus(positionOf(*mesh, v), centre),
                                                minus(positionOf(*mesh, v), centre))));
    const double scale = radius > 0 ? 1 / radius : 1;
    for (std::size_t v = 0; v < std::size_t(mesh->vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i) {
            float& p = mesh->vertices[v * floatsPerVertex + i];
            p = float((p - centre[i]) * scale);
        }
}

// Turns positions and normals so that the file's up axis becomes +y: a quarter turn about z
// for x, about x for z, a half turn about x for -y. Each is a rotation (determinant 1).
void turnUp(MeshData* mesh, UpAxis up) {
    if (up.axis == 1 && up.sign == 1)
        return;
    for (std::size_t v = 0; v < std::size_t(mesh->vertexCount); ++v)
        for (std::size_t at : {std::size_t(0), std::size_t(3)}) {
            float* p = &mesh->vertices[v * floatsPerVertex + at];
            const float x = p[0], y = p[1], z = p[2], s = float(up.sign);
            if (up.axis == 0) // (s, 0, 0) -> (0, 1, 0)
                p[0] = -s * y, p[1] = s * x;
            else if (up.axis == 2) // (0, 0, s) -> (0, 1, 0)
                p[1] = s * z, p[2] = -s * y;
            else // (0, -1, 0) -> (0, 1, 0)
                p[1] = -y, p[2] = -z;
        }
}

// The first line of a library's message, without control characters, at most 200 bytes.
std::string oneLine(const std::string& text) {
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    if (line.size() > 200)
        line = line.substr(0, 197) + "...";
    return line.empty() ? "unknown error" : line;
}

// Keeps the first error Assimp's importers log (some report a damaged file only so, and go on
// with a guess such as a clamped index). The logger owns and deletes it.
class ErrorRecorder : public Assimp::LogStream {
public:
    explicit ErrorRecorder(std::string* first) : first(first) {}
    void write(const char* message) override {
        if (!first->empty())
            return;
        std::string text = message;
        // The logger prefixes "Error, T0: ".
        const std::string::size_type colon = text.find(": ");
        *first = oneLine(colon == std::string::npos ? text : text.substr(colon + 2));
    }

private:
    std::string* first;
};

// Assimp's logger with the recorder for one import; back to the silent logger at the end.
struct ErrorLog {
    std::string first;
    ErrorLog() {
        Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
        Assimp::DefaultLogger::get()->attachStream(new ErrorRecorder(&first), Assimp::Logger::Err);
    }
    ~ErrorLog() { Assimp::DefaultLogger::kill(); }
};

// Whether any mesh of the scene (not yet validated) has a face of three or more corners.
bool hasPolygons(const aiScene& scene) {
    for (unsigned int m = 0; scene.mMeshes && m < scene.mNumMeshes; ++m)
        if (scene.mMeshes[m] && scene.mMeshes[m]->mNumFaces > 0 &&
            (scene.mMeshes[m]->mPrimitiveTypes &
             (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON)))
            return true;
    return false;
}

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The scene's triangles as one mesh; "" or the message.
std::string collectTriangles(const aiScene& scene, MeshData* read, std::vector<bool>* needsNormal) {
    std::uint64_t vertices = 0, triangles = 0;
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        vertices += scene.mMeshes[m]->mNumVertices;
        triangles += scene.mMeshes[m]->mNumFaces;
    }
    if (vertices > INT_MAX || triangles > INT_MAX / 3) // the viewer's limits
        return "model too large";
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh* part = scene.mMeshes[m];
        const std::uint32_t first = std::uint32_t(read->vertexCount);
        for (unsigned int v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            aiVector3D n = part->HasNormals() ? part->mNormals[v] : aiVector3D(0, 0, 1);
            if (!finite(p))
                return "non-finite vertex coordinate";
            if (!finite(n))
                return "non-finite normal";
            // The file's normals are made unit length; a zero one is computed as if missing.
            const double length =
                std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
            if (length > 0)
                n = aiVector3D(float(n.x / length), float(n.y / length), float(n.z / length));
            read->vertices.insert(read->vertices.end(), {p.x, p.y, p.z, n.x, n.y, n.z, 0, 0, 0});
            needsNormal->push_back(!part->HasNormals() || length == 0);
        }
        read->vertexCount += std::int32_t(part->mNumVertices);
        for (unsigned int f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3)
                continue;
            for (unsigned int k = 0; k < 3; ++k) {
                if (face.mIndices[k] >= part->mNumVertices)
                    return "vertex index out of range";
                read->indices.push_back(first + face.mIndices[k]);
            }
            ++read->triangleCount;
        }
    }
    return read->triangleCount == 0 ? "no triangles in this model" : "";
}

// Assimp's PLY reader loops forever on a header without end_header, allocates what a count
// claims (2e9 vertices: gigabytes), and reads past a body shorter than its header says. So
// a PLY header is read first: it must end within 64 KiB, and the body must hold at least the
// smallest size of every element it declares (a list counted as empty; in ASCII each value
// takes a digit and a separator). "" or the message.
std::string checkPlyHeader(std::FILE* file, bool plyName) {
    std::string header(65536, '\0');
    header.resize(std::fread(&header[0], 1, header.size(), file));
    const bool magic = header.compare(0, 4, "ply\n") == 0 || header.compare(0, 5, "ply\r\n") == 0;
    // Assimp takes a file named .ply for PLY whatever it holds, and its reader crashes on some
    // bodies after a line that is no magic.
    if (plyName && !magic)
        return "bad PLY header: the first line is not 'ply'";
    if (!magic)
        return ""; // not PLY: Assimp tells the format by the extension or this magic
    std::string::size_type end = header.find("\nend_header\n");
    if (end == std::string::npos)
        end = header.find("\nend_header\r\n");
    if (end == std::string::npos)
        return "bad PLY header: no end_header line";
    const std::string::size_type body = header.find('\n', end + 1);
    const long available = remainingBytes(file) + long(header.size() - body - 1);
    std::istringstream lines(header.substr(0, end));
    std::string line;
    bool ascii = false;
    double needed = 0, count = 0, elementSize = 0; // doubles: counts up to 2^64 add safely
    const auto closeElement = [&] { needed += count * elementSize; };
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword, type;
        words >> keyword;
        if (keyword == "format") {
            words >> type;
            ascii = type == "ascii";
        } else if (keyword == "element") {
            closeElement();
            words >> type >> count;
            elementSize = 0;
            if (!words || count < 0)
                return "bad PLY header: element count";
        } else if (keyword == "property") {
            words >> type;
            std::string itemType = type;
            if (type == "list")
                words >> type >> itemType; // the list may be empty: only its count counts
            static const std::pair<const char*, int> sizes[] = {
                {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},
                {"short", 2}, {"ushort", 2},  {"int16", 2},  {"uint16", 2},
                {"int", 4},   {"uint", 4},    {"int32", 4},  {"uint32", 4},
                {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
            int size = 0, itemSize = 0;
            for (const auto& [name, bytes] : sizes) {
                size = type == name ? bytes : size;
                itemSize = itemType == name ? bytes : itemSize;
            }
            if (size == 0 || itemSize == 0) // Assimp's reader loops on some unknown types
                return "bad PLY header: unknown property type";
            elementSize += ascii ? 2 : size;
        }
    }
    closeElement();
    // An ASCII body's last value needs no separator.
    if (needed - (ascii && needed > 0 ? 1 : 0) > double(available))
        return "file too short for its PLY header";
    return "";
}

// Assimp's OFF reader allocates what the counts claim, aborts on a missing face line and
// clamps a face's index past the end. So an OFF file (a first line starting with a keyword
// that ends in "OFF") is read through first: the counts, a line for each vertex, and each
// face's corner count and indices, which must name existing vertices. "" or the message.
std::string checkOffFile(std::FILE* file) {
    std::vector<std::string> lines;
    char buffer[4096];
    std::string line;
    while (std::fgets(buffer, sizeof buffer, file)) {
        line += buffer;
        if ((line.empty() || line.back() != '\n') && !std::feof(file))
            continue;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r\n") != std::string::npos)
            lines.push_back(line);
        line.clear();
        if (lines.size() == 1) {
            std::istringstream first(lines[0]);
            std::string keyword;
            first >> keyword;
            if (keyword.size() < 3 || keyword.compare(keyword.size() - 3, 3, "OFF") != 0)
                return ""; // not OFF
        }
    }
    if (lines.empty())
        return "";
    std::istringstream counts(lines[0].substr(lines[0].find("OFF") + 3));
    std::size_t next = 1;
    long long vertices = -1, faces = -1;
    if (!(counts >> vertices) && next < lines.size())
        counts = std::istringstream(lines[next++]), counts >> vertices;
    counts >> faces;
    if (!counts || vertices < 0 || faces < 0)
        return "bad OFF header: counts";
    if (double(vertices) + double(faces) > double(lines.size() - next))
        return "file too short for its OFF counts";
    for (std::size_t f = next + std::size_t(vertices); f < next + std::size_t(vertices + faces);
         ++f) {
        std::istringstream face(lines[f]);
        long long corners = -1, index = 0;
        face >> corners;
        if (!face || corners < 1)
            return "bad OFF face: corner count";
        for (long long k = 0; k < corners; ++k)
            if (!(face >> index) || index < 0 || index >= vertices)
                return "bad OFF face: vertex index out of range";
    }
    return "";
}

// Reads the scene through the confined I/O system; "" or the message.
std::string readTriangles(const std::string& path, const MeshImportOptions& options, MeshData* read,
                          std::vector<bool>* needsNormal) {
    ErrorLog log;
    Assimp::Importer importer;
    ModelFolderIO* io = new ModelFolderIO(path); // the importer owns it
    importer.SetIOHandler(io);
    if (!io->Exists(path.c_str())) // missing, or not a regular file
        return inputMessages::cantOpen;
    const std::string lower = QString::fromStdString(path).toLower().toStdString();
    const bool plyName = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".ply") == 0;
    const std::function<std::string(std::FILE*)> checks[] = {
        [plyName](std::FILE* file) { return checkPlyHeader(file, plyName); }, checkOffFile};
    for (const auto& check : checks) {
        const FileHandle file = openFile(path.c_str(), "rb");
        const std::string failure = file ? check(file.get()) : inputMessages::cantOpen;
        if (!failure.empty())
            return failure;
    }
    // Only positions and normals reach the file, so nothing else may keep vertices apart when
    // identical ones are joined. Normals to be recomputed go before the join too, so that a
    // smooth surface gets smooth normals.
    importer.SetPropertyInteger(AI_CONFIG_PP_RVC_FLAGS,
                                aiComponent_TEXCOORDS | aiComponent_COLORS |
                                    aiComponent_TANGENTS_AND_BITANGENTS |
                                    (options.recomputeNormals ? int(aiComponent_NORMALS) : 0));
    importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true); // degenerate faces go
    // Validation refuses a mesh without faces, so points and lines are told apart first.
    const aiScene* scene = importer.ReadFile(path, 0);
    const auto failure = [&](const std::string& fallback) {
        if (!io->refusal().empty())
            return io->refusal();
        return "can't read model: " + oneLine(log.first.empty() ? fallback : log.first);
    };
    if (!scene)
        return failure(importer.GetErrorString());
    if (!log.first.empty() || !io->refusal().empty())
        return failure("");
    // Points and lines alone are no surface; the steps below would refuse them less clearly.
    if (!hasPolygons(*scene))
        return "no triangles in this model";
    scene =
        importer.ApplyPostProcessing(aiProcess_ValidateDataStructure | aiProcess_RemoveComponent |
                                     aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                     aiProcess_PreTransformVertices | aiProcess_FindDegenerates);
    if (!scene || !log.first.empty())
        return failure(importer.GetErrorString());
    return collectTriangles(*scene, read, needsNormal);
}

// Positions as keys: vertices at equal positions (0 and -0 alike) are one point of the surface.
struct PositionKey {
    float p[3];
    bool operator==(const PositionKey& o) const {
        return p[0] == o.p[0] && p[1] == o.p[1] && p[2] == o.p[2];
    }
};
struct PositionHash {
    std::size_t operator()(const PositionKey& key) const {
        std::size_t h = 0;
        for (float f : key.p) {
            f = f == 0 ? 0.0f : f;
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            h = h * 0x9E3779B97F4A7C15ull + bits;
        }
        return h;
    }
};
} // namespace

bool parseUpAxis(const std::string& text, UpAxis* up) {
    std::string name = text;
    int sign = 1;
    if (!name.empty() && (name[0] == '-' || name[0] == '+')) {
        sign = name[0] == '-' ? -1 : 1;
        name = name.substr(1);
    }
    if (name.size() != 1 || name[0] < 'x' || name[0] > 'z')
        return false;
    *up = UpAxis{name[0] - 'x', sign};
    return true;
}

std::size_t orientOutward(MeshData* mesh) {
    const std::size_t triangles = mesh->indices.size() / 3;
    // One id per distinct position.
    std::unordered_map<PositionKey, std::uint32_t, PositionHash> ids;
    std::vector<std::uint32_t> point(std::size_t(mesh->vertexCount));
    for (std::size_t v = 0; v < point.size(); ++v) {
        const float* p = &mesh->vertices[v * floatsPerVertex];
        point[v] =
            ids.emplace(PositionKey{{p[0], p[1], p[2]}}, std::uint32_t(ids.size())).first->second;
    }
    const auto corner = [&](std::size_t t, int k) {
        return point[mesh->indices[3 * t + std::size_t(k)]];
    };
    // The triangles on each undirected edge.
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> edges;
    const auto edgeKey = [](std::uint32_t a, std::uint32_t b) {
        return std::uint64_t(std::min(a, b)) << 32 | std::max(a, b);
    };
    for (std::size_t t = 0; t < triangles; ++t)
        for (int k = 0; k < 3; ++k)
            edges[edgeKey(corner(t, k), corner(t, (k + 1) % 3))].push_back(std::uint32_t(t));
    // Whether triangle t runs from a to b along one of its edges.
    const auto runs = [&](std::size_t t, std::uint32_t a, std::uint32_t b) {
        for (int k = 0; k < 3; ++k)
            if (corner(t, k) == a && corner(t, (k + 1) % 3) == b)
                return true;
        return false;
    };

    // Walks each part from a seed, deciding each triangle's winding against the one it was
    // reached from: a shared edge must run in opposite directions.
    std::vector<int> flip(triangles, -1); // -1 not reached, else 0 or 1
    std::vector<std::uint32_t> part, queue;
    std::size_t changed = 0;
    for (std::size_t seed = 0; seed < triangles; ++seed) {
        if (flip[seed] >= 0)
            continue;
        part.clear();
        queue.assign(1, std::uint32_t(seed));
        flip[seed] = 0;
        bool closed = true;
        while (!queue.empty()) {
            const std::uint32_t t = queue.back();
            queue.pop_back();
            part.push_back(t);
            for (int k = 0; k < 3; ++k) {
                std::uint32_t a = corner(t, k), b = corner(t, (k + 1) % 3);
                if (a == b) { // a degenerate triangle: no orientation to follow
                    closed = false;
                    continue;
                }
                const std::vector<std::uint32_t>& sharing = edges[edgeKey(a, b)];
                if (sharing.size() != 2)
                    closed = false;
                if (flip[t])
                    std::swap(a, b);
                for (std::uint32_t other : sharing) {
                    if (other == t)
                        continue;
                    const int wanted = runs(other, a, b) ? 1 : 0; // same direction: turn it
                    if (flip[other] < 0) {
                        flip[other] = wanted;
                        queue.push_back(other);
                    } else if (flip[other] != wanted) {
                        closed = false; // cannot be wound consistently (or not a manifold)
                    }
                }
            }
        }
        if (!closed)
            continue;
        Vector origin = positionOf(*mesh, mesh->indices[3 * part[0]]);
        double volume = 0;
        for (std::uint32_t t : part) {
            const Vector a = minus(positionOf(*mesh, mesh->indices[3 * t]), origin);
            const Vector b = minus(positionOf(*mesh, mesh->indices[3 * t + 1]), origin);
            const Vector c = minus(positionOf(*mesh, mesh->indices[3 * t + 2]), origin);
            volume += (flip[t] ? -1 : 1) * dot(a, cross(b, c));
        }
        for (std::uint32_t t : part)
            if ((flip[t] != 0) != (volume < 0)) {
                std::swap(mesh->indices[3 * t + 1], mesh->indices[3 * t + 2]);
                ++changed;
            }
    }

    // Normals that point against their triangles turn round: in a closed part the triangles
    // now face outward; in an open one the winding is all there is to go by.
    const std::vector<Vector> sums = cornerSums(*mesh);
    for (std::size_t v = 0; v < sums.size(); ++v) {
        float* n = &mesh->vertices[v * floatsPerVertex + 3];
        if (dot(sums[v], Vector{n[0], n[1], n[2]}) < 0)
            n[0] = -n[0], n[1] = -n[1], n[2] = -n[2];
    }
    return changed;
}

namespace {
// "PATH: message" for the model at path, a file name in the system's encoding.
std::string modelMessage(const std::string& path, const std::string& message) {
    return fileMessage(QFile::decodeName(QByteArray::fromStdString(path)), message);
}
} // namespace

std::string importMesh(const std::string& path, const MeshImportOptions& options, MeshData* mesh) {
    MeshData read;
    std::vector<bool> needsNormal;
    const std::string failure = readTriangles(path, options, &read, &needsNormal);
    if (!failure.empty())
        return modelMessage(path, failure);
    turnUp(&read, options.up);
    orientOutward(&read);
    setAreaWeightedNormals(&read, needsNormal);
    if (!options.keepScale)
        centreToUnitRadius(&read);
    for (std::size_t v = 0; v < std::size_t(read.vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i)
            read.vertices[v * floatsPerVertex + 6 + i] =
                textureRepeats * read.vertices[v * floatsPerVertex + i];
    *mesh = std::move(read);
    return std::string();
}

std::string importMeshContained(const std::string& path, const MeshImportOptions& options,
                                MeshData* mesh) {
    const ContainedResult result = runContained(
        [&](std::vector<unsigned char>* bytes) {
            MeshData imported;
            const std::string failure = importMesh(path, options, &imported);
            if (failure.empty())
                *bytes = encodeMesh(imported);
            return failure;
        },
        {options.memoryLimit, options.timeoutSeconds});
    switch (result.end) {
    case ContainedEnd::Refused:
        return oneLine(result.message);
    case ContainedEnd::Crashed:
        return modelMessage(path, "the model importer crashed");
    case ContainedEnd::OutOfMemory:
        return modelMessage(path, "needs more than " + memorySizeText(options.memoryLimit));
    case ContainedEnd::TimedOut:
        return modelMessage(path, "the model importer took more than " +
                                      std::to_string(options.timeoutSeconds) + " s");
    case ContainedEnd::Done:
        break;
    }
    // The child's mesh is checked as the viewer checks a .dat file.
    FileHandle file(fmemopen(const_cast<unsigned char*>(result.bytes.data()),
                             std::max<std::size_t>(result.bytes.size(), 1), "rb"));
    MeshData received;
    const std::string failure =
        file && !result.bytes.empty() ? readMesh(file.get(), &received) : "nothing came back";
    if (!failure.empty())
        return modelMessage(path, "the model importer crashed (" + failure + ")");
    *mesh = std::move(received);
    return std::string();
}
