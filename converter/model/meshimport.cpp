#include "meshimport.h"

#include "contained.h"
#include "files.h"
#include "littleendian.h"
#include "meshsurface.h"
#include "modelchecks.h"
#include "modelio.h"
#include "messages.h"

#include <QFile>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>

using namespace meshLayout;

namespace {
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

// Assimp's errors about materials. The viewer shows geometry only, so an OBJ's material library
// that is missing or unreadable, a material it lacks, a value the reader does not know, or an
// FBX mesh without a material is noted and ignored. The OBJ reader logs the library errors when
// it cannot open one, and the last one below after a usemtl of a material it lacks, before any
// object.
const char* const materialLibraryErrors[] = {"OBJ: Unable to locate material file ",
                                             "OBJ: Unable to locate fallback material file "};
const char* const materialErrors[] = {"OBJ: failed to locate material ",
                                      "OBJ: unexpected illumination model",
                                      "FBX: no material assigned to mesh"};
const char* const afterMaterialErrors[] = {"OBJ: No object detected to attach a new mesh instance"};

template <std::size_t N> bool startsWithAny(const std::string& text, const char* const (&list)[N]) {
    for (const char* prefix : list)
        if (text.rfind(prefix, 0) == 0)
            return true;
    return false;
}

// What the importers log for one import: the first error about geometry (some readers report a
// damaged file only so, and go on with a guess such as a clamped index), and the ignored ones
// about materials.
struct ImportLog {
    std::string firstError;
    std::vector<std::string> ignored; // distinct, the first few
    ModelFolderIO* io = nullptr;      // whose refusal of a material library is forgiven
    bool lastIgnored = false;

    void add(const std::string& text) {
        // The logger says so when it leaves out repeats of the message before.
        if (text.rfind("Skipping one or more lines with the same contents", 0) == 0)
            return;
        std::string note;
        if (startsWithAny(text, materialLibraryErrors)) {
            note = io ? io->forgiveLatestRefusals() : std::string();
        } else if (!startsWithAny(text, materialErrors) &&
                   !(lastIgnored && startsWithAny(text, afterMaterialErrors))) {
            lastIgnored = false;
            if (firstError.empty())
                firstError = oneLine(text);
            return;
        }
        lastIgnored = true;
        note = oneLine(note.empty() ? text.substr(text.rfind("OBJ: ", 0) == 0 ? 5 : 0) : note);
        if (ignored.size() < 20 && std::find(ignored.begin(), ignored.end(), note) == ignored.end())
            ignored.push_back(note);
    }
};

// Hands Assimp's error messages to the import's log. The logger owns and deletes it.
class ErrorRecorder : public Assimp::LogStream {
public:
    explicit ErrorRecorder(ImportLog* log) : log(log) {}
    void write(const char* message) override {
        const std::string text = message;
        // The logger prefixes "Error, T0: ".
        const std::string::size_type colon = text.find(": ");
        log->add(colon == std::string::npos ? text : text.substr(colon + 2));
    }

private:
    ImportLog* log;
};

// Assimp's logger with the recorder for one import; back to the silent logger at the end.
struct ErrorLog : ImportLog {
    ErrorLog() {
        Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
        Assimp::DefaultLogger::get()->attachStream(new ErrorRecorder(this), Assimp::Logger::Err);
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

// The scene's triangles as one mesh, vertices equal in position and normal joined (a normal
// missing, zero, or to be recomputed is (0, 0, 0)); "" or the message.
std::string collectTriangles(const aiScene& scene, MeshData* read, ImportReport* report) {
    std::uint64_t vertices = 0, triangles = 0;
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        vertices += scene.mMeshes[m]->mNumVertices;
        triangles += scene.mMeshes[m]->mNumFaces;
    }
    if (vertices > INT_MAX || triangles > INT_MAX / 3) // the viewer's limits
        return "model too large";
    read->indices.reserve(std::size_t(3 * triangles));
    read->vertices.reserve(std::size_t(vertices) * floatsPerVertex);
    Joiner joiner(&read->vertices, floatsPerVertex, 6, std::size_t(vertices));
    std::vector<std::uint32_t> joined;
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh* part = scene.mMeshes[m];
        joined.resize(part->mNumVertices);
        for (unsigned int v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            aiVector3D n = part->HasNormals() ? part->mNormals[v] : aiVector3D(0, 0, 0);
            if (!finite(p))
                return "non-finite vertex coordinate";
            if (!finite(n))
                return "non-finite normal";
            // The file's normals are made unit length.
            const double length =
                std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
            if (length > 0)
                n = aiVector3D(float(n.x / length), float(n.y / length), float(n.z / length));
            const float vertex[floatsPerVertex] = {p.x, p.y, p.z, n.x, n.y, n.z, 0, 0, 0};
            joined[v] = joiner.add(vertex);
        }
        for (unsigned int f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3) { // triangulated: points and lines are all that is left
                ++report->pointsAndLines;
                continue;
            }
            for (unsigned int k = 0; k < 3; ++k) {
                if (face.mIndices[k] >= part->mNumVertices)
                    return "vertex index out of range";
                read->indices.push_back(joined[face.mIndices[k]]);
            }
            ++read->triangleCount;
        }
    }
    read->vertexCount = std::int32_t(read->vertices.size() / floatsPerVertex);
    return read->triangleCount == 0 ? "no triangles in this model" : "";
}

// Reads the scene through the confined I/O system, without material libraries when withheld;
// "" or the message. Sets *openedLibrary when a material library was read.
std::string readScene(const std::string& path, const MeshImportOptions& options, bool withhold,
                      bool* openedLibrary, MeshData* read, ImportReport* report) {
    ErrorLog log;
    Assimp::Importer importer;
    ModelFolderIO* io = new ModelFolderIO(path); // the importer owns it
    importer.SetIOHandler(io);
    log.io = io;
    if (withhold)
        io->withholdMaterialLibraries();
    struct Opened { // told once the importer is done, whichever way
        ModelFolderIO* io;
        bool* opened;
        ~Opened() { *opened = io->openedMaterialLibrary(); }
    } opened{io, openedLibrary};
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
    const unsigned int steps = prepareImporter(&importer, options.recomputeNormals);
    // Validation refuses a mesh without faces, so points and lines are told apart first.
    const aiScene* scene = importer.ReadFile(path, 0);
    const auto failure = [&](const std::string& fallback) {
        if (!io->refusal().empty())
            return io->refusal();
        return "can't read model: " + oneLine(log.firstError.empty() ? fallback : log.firstError);
    };
    if (!scene)
        return failure(importer.GetErrorString());
    if (!log.firstError.empty() || !io->refusal().empty())
        return failure("");
    // Points and lines alone are no surface; the steps below would refuse them less clearly.
    if (!hasPolygons(*scene))
        return "no triangles in this model";
    scene = importer.ApplyPostProcessing(steps);
    if (!scene || !log.firstError.empty())
        return failure(importer.GetErrorString());
    report->ignored = log.ignored;
    return collectTriangles(*scene, read, report);
}

// Reads the scene; an OBJ whose material library the reader throws on is read again without
// it, since the viewer shows geometry only and materials must never refuse a model.
std::string readTriangles(const std::string& path, const MeshImportOptions& options, MeshData* read,
                          ImportReport* report) {
    bool openedLibrary = false;
    const std::string failure = readScene(path, options, false, &openedLibrary, read, report);
    const std::string readerError = "can't read model: ";
    if (failure.rfind(readerError, 0) != 0 || !openedLibrary)
        return failure;
    *read = MeshData();
    if (!readScene(path, options, true, &openedLibrary, read, report).empty())
        return failure;
    // Without the library every material is ignored, and whatever the second read noted of them
    // follows from that.
    report->ignored = {"unreadable material library (" + failure.substr(readerError.size()) + ")"};
    return std::string();
}

// "PATH: message" for the model at path, a file name in the system's encoding.
std::string modelMessage(const std::string& path, const std::string& message) {
    return fileMessage(QFile::decodeName(QByteArray::fromStdString(path)), message);
}

// The report as the child sends it: "REPEATED POINTSANDLINES NOTES\n", then each
// note on a line.
std::string encodeReport(const ImportReport& report) {
    std::string text = std::to_string(report.repeatedCorners) + " " +
                       std::to_string(report.pointsAndLines) + " " +
                       std::to_string(report.ignored.size()) + "\n";
    for (const std::string& note : report.ignored)
        text += note + "\n";
    return text;
}

// Reads the report the child sent; false when it is damaged.
bool decodeReport(const std::vector<unsigned char>& bytes, ImportReport* report) {
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::size_t notes = 0;
    if (!(text >> report->repeatedCorners >> report->pointsAndLines >> notes) || notes > 100)
        return false;
    text.ignore(1); // the line's end
    report->ignored.resize(notes);
    for (std::string& note : report->ignored)
        if (!std::getline(text, note))
            return false;
    return true;
}

// Checks a .dat file's bytes as the viewer checks the file (counts, size, indices below V),
// and that every value is finite; puts its counts and bounds in the report. "" or the message.
std::string checkMeshFile(const unsigned char* data, std::size_t size, ImportReport* report) {
    if (size < std::size_t(headerSize))
        return "file too short: truncated mesh";
    const std::int32_t v = littleEndianInt(data), t = littleEndianInt(data + 4);
    if (v < 0 || t < 0 || t > INT_MAX / 3)
        return "bad mesh: counts";
    if (size != headerSize + std::uint64_t(vertexRecordSize) * std::uint64_t(v) +
                    std::uint64_t(triangleRecordSize) * std::uint64_t(t))
        return "bad mesh: size";
    for (int k = 0; k < 3; ++k)
        report->lowest[k] = 1e17f, report->highest[k] = -1e17f;
    const auto word = littleEndianWord;
    const unsigned char* record = data + headerSize;
    for (std::int32_t i = 0; i < v; ++i, record += vertexRecordSize)
        for (int k = 0; k < 6; ++k) {
            const std::uint32_t bits = word(record + 4 * k);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            if (!std::isfinite(value))
                return "bad mesh: non-finite value";
            if (k < 3) {
                report->lowest[k] = std::min(report->lowest[k], value);
                report->highest[k] = std::max(report->highest[k], value);
            }
        }
    for (std::int64_t i = 0; i < 3 * std::int64_t(t); ++i, record += 4)
        if (word(record) >= std::uint32_t(v))
            return "bad mesh: index out of range";
    report->vertexCount = v;
    report->triangleCount = t;
    return "";
}

// A descriptor, closed with it.
struct FileDescriptor {
    int fd;
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Writes the mesh's file bytes into the memory file through a mapping whose pages are made at
// once, not one fault at a time. False (errno set) when that fails.
bool encodeInto(int fd, const MeshData& mesh) {
    const std::size_t size = encodedMeshSize(mesh);
    if (ftruncate(fd, off_t(size)) != 0)
        return false;
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (at == MAP_FAILED)
        return false;
    encodeMeshInto(mesh, static_cast<unsigned char*>(at));
    return munmap(at, size) == 0;
}

// A whole file mapped read-only with its pages in place; data is null when that fails.
struct Mapping {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    explicit Mapping(int fd) {
        struct stat info;
        if (fstat(fd, &info) != 0 || info.st_size <= 0)
            return;
        void* at =
            mmap(nullptr, std::size_t(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (at != MAP_FAILED)
            data = static_cast<const unsigned char*>(at), size = std::size_t(info.st_size);
    }
    ~Mapping() {
        if (data)
            munmap(const_cast<unsigned char*>(data), size);
    }
};
} // namespace

unsigned int prepareImporter(Assimp::Importer* importer, bool recomputeNormals) {
    // Only positions and normals reach the file; the rest need not be carried through.
    importer->SetPropertyInteger(AI_CONFIG_PP_RVC_FLAGS,
                                 aiComponent_TEXCOORDS | aiComponent_COLORS |
                                     aiComponent_TANGENTS_AND_BITANGENTS |
                                     (recomputeNormals ? int(aiComponent_NORMALS) : 0));
    return aiProcess_ValidateDataStructure | aiProcess_RemoveComponent | aiProcess_Triangulate |
           aiProcess_PreTransformVertices;
}

std::string ImportReport::droppedText() const {
    std::vector<std::string> parts;
    if (repeatedCorners > 0)
        parts.push_back(std::to_string(repeatedCorners) + " dropped: repeated corners");
    if (pointsAndLines > 0)
        parts.push_back(std::to_string(pointsAndLines) + " points and lines left out");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? " (" : "; ") + part;
    return text.empty() ? text : text + ")";
}

std::string ImportReport::ignoredText() const {
    if (ignored.empty())
        return std::string();
    std::string text = "; materials ignored: " + ignored.front();
    if (ignored.size() > 1)
        text += ", and " + std::to_string(ignored.size() - 1) +
                (ignored.size() == 2 ? " more message" : " more messages");
    return text;
}

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

std::string importMesh(const std::string& path, const MeshImportOptions& options, MeshData* mesh,
                       ImportReport* report) {
    MeshData read;
    ImportReport found;
    std::string failure = readTriangles(path, options, &read, &found);
    if (failure.empty()) {
        turnUp(&read, options.up);
        const std::vector<std::uint32_t> point = joinedPointIds(read);
        found.repeatedCorners = dropRepeatedCorners(&read, point);
        if (read.triangleCount == 0)
            failure = "no triangles in this model" + found.droppedText();
        else
            orientParts(&read, point);
    }
    if (!failure.empty())
        return modelMessage(path, failure);
    setNormals(&read);
    if (!options.keepScale)
        centreToUnitRadius(&read);
    for (std::size_t v = 0; v < std::size_t(read.vertexCount); ++v)
        for (std::size_t i = 0; i < 3; ++i)
            read.vertices[v * floatsPerVertex + 6 + i] =
                textureRepeats * read.vertices[v * floatsPerVertex + i];
    *mesh = std::move(read);
    if (report)
        *report = std::move(found);
    return std::string();
}

std::string importMeshContained(const std::string& path, const MeshImportOptions& options,
                                const MeshFileSink& save, ImportReport* report) {
    // The mesh comes back in a memory file: the parent maps it, checks it and hands it on,
    // without copying it through a pipe into memory of its own.
    const FileDescriptor file(memfd_create("tessary-mesh", MFD_CLOEXEC));
    if (file.fd < 0)
        return modelMessage(path, "can't start a process: " + std::string(std::strerror(errno)));
    const ContainedResult result = runContained(
        [&](std::vector<unsigned char>* bytes) {
            MeshData imported;
            ImportReport found;
            const std::string failure = importMesh(path, options, &imported, &found);
            if (!failure.empty())
                return failure;
            if (!encodeInto(file.fd, imported))
                return modelMessage(path, "can't hand the mesh over: " +
                                              std::string(std::strerror(errno)));
            const std::string text = encodeReport(found);
            bytes->assign(text.begin(), text.end());
            return std::string();
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
    ImportReport found;
    const Mapping mesh(file.fd);
    std::string failure = !decodeReport(result.bytes, &found) ? "no report"
                          : mesh.data == nullptr              ? "no mesh"
                                                 : checkMeshFile(mesh.data, mesh.size, &found);
    if (!failure.empty())
        return modelMessage(path, "the model importer crashed (" + failure + ")");
    failure = save(mesh.data, mesh.size);
    if (failure.empty() && report)
        *report = std::move(found);
    return failure;
}
