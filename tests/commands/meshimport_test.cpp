#include "meshimport.h"
#include "modelfixture.h"
#include "testruns.h"

#include <algorithm>
#include <cmath>

using namespace meshLayout;

namespace {
using Point = std::array<double, 3>;

Point at(const MeshData& mesh, std::uint32_t v, int offset = 0) {
    const float* p = &mesh.vertices[std::size_t(v) * floatsPerVertex + std::size_t(offset)];
    return {p[0], p[1], p[2]};
}

// A unit cube around the origin, a vertex per corner of each face (flat-shaded), every face
// wound and its normals pointing inward, as a model with reversed winding arrives.
MeshData inwardCube() {
    MeshData mesh;
    for (int axis = 0; axis < 3; ++axis)
        for (int side : {-1, 1}) {
            const std::uint32_t first = std::uint32_t(mesh.vertexCount);
            for (int corner = 0; corner < 4; ++corner) {
                float p[3];
                p[axis] = 0.5f * float(side);
                p[(axis + 1) % 3] = corner == 1 || corner == 2 ? 0.5f : -0.5f;
                p[(axis + 2) % 3] = corner >= 2 ? 0.5f : -0.5f;
                float n[3] = {0, 0, 0};
                n[axis] = -float(side);
                mesh.vertices.insert(mesh.vertices.end(),
                                     {p[0], p[1], p[2], n[0], n[1], n[2], 0, 0, 0});
                ++mesh.vertexCount;
            }
            // (0, 1, 2) runs counter-clockwise seen from +axis: outward for side +1.
            const std::vector<std::uint32_t> quad =
                side < 0 ? std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}
                         : std::vector<std::uint32_t>{0, 2, 1, 0, 3, 2};
            for (std::uint32_t k : quad)
                mesh.indices.push_back(first + k);
            mesh.triangleCount += 2;
        }
    return mesh;
}

// How many triangles face away from the origin, and how many normals point away from it.
std::pair<int, int> outwardCounts(const MeshData& mesh) {
    int triangles = 0, normals = 0;
    for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
        const Point a = at(mesh, mesh.indices[t]), b = at(mesh, mesh.indices[t + 1]),
                    c = at(mesh, mesh.indices[t + 2]);
        double facing = 0;
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3, k = (i + 2) % 3;
            const double cross = (b[j] - a[j]) * (c[k] - a[k]) - (b[k] - a[k]) * (c[j] - a[j]);
            facing += cross * (a[i] + b[i] + c[i]);
        }
        triangles += facing > 0;
    }
    for (std::uint32_t v = 0; v < std::uint32_t(mesh.vertexCount); ++v) {
        const Point p = at(mesh, v), n = at(mesh, v, 3);
        normals += p[0] * n[0] + p[1] * n[1] + p[2] * n[2] > 0;
    }
    return {triangles, normals};
}

class ImportTest : public testing::Test {
    ScratchDir dir;
};
} // namespace

TEST(OrientTest, ClosedPartsFaceOutwardOpenPartsKeepTheirWindingNormalsFollowIt) {
    MeshData mixed = inwardCube(); // some faces wound one way, some the other
    for (std::size_t t = 0; t < mixed.indices.size(); t += 6)
        std::swap(mixed.indices[t + 1], mixed.indices[t + 2]);
    MeshData open = inwardCube(); // a box without its lid
    open.indices.resize(open.indices.size() - 6);
    open.triangleCount -= 2;
    MeshData againstWinding = open; // normals that point out of a box wound inward
    for (std::size_t i = 3; i < againstWinding.vertices.size(); i += floatsPerVertex)
        for (std::size_t k = 0; k < 3; ++k)
            againstWinding.vertices[i + k] = -againstWinding.vertices[i + k];
    MeshData two = inwardCube(); // a second closed part beside the first, already outward
    MeshData outward = inwardCube();
    orientOutward(&outward);
    for (std::size_t i = 0; i < outward.vertices.size(); ++i)
        two.vertices.push_back(outward.vertices[i] + (i % floatsPerVertex == 0 ? 3.0f : 0.0f));
    for (std::uint32_t index : outward.indices)
        two.indices.push_back(index + std::uint32_t(outward.vertexCount));
    two.vertexCount *= 2;
    two.triangleCount *= 2;
    const std::tuple<const char*, MeshData, std::size_t, std::pair<int, int>> cases[] = {
        {"inward", inwardCube(), 12, {12, 24}},
        {"mixed", mixed, 6, {12, 24}},
        {"open", open, 0, {0, 0}},
        // The lid's four vertices, in no triangle now, keep theirs.
        {"open, normals against the winding", againstWinding, 0, {0, 4}},
    };
    for (auto [name, mesh, changed, counts] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(orientOutward(&mesh), changed);
        EXPECT_EQ(outwardCounts(mesh), counts);
    }
    // The outward part beside it stays; the inward one turns. Counted about each part's centre.
    EXPECT_EQ(orientOutward(&two), 12u);
    for (int v = 24; v < 48; ++v)
        two.vertices[std::size_t(v) * floatsPerVertex] -= 3.0f;
    EXPECT_EQ(outwardCounts(two), std::make_pair(24, 48));
}

TEST_F(ImportTest, UpAxisIsARotation) {
    // A right-handed corner: the file's x, y and z axes.
    writeFile("c.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\nf 1 3 4\nf 1 4 2\n"
                       "f 2 4 3\n");
    const std::pair<const char*, int> cases[] = {{"x", 1},  {"-x", 1}, {"y", 2},
                                                 {"-y", 2}, {"+z", 3}, {"-z", 3}};
    for (const auto& [name, axisVertex] : cases) {
        SCOPED_TRACE(name);
        MeshImportOptions options;
        options.keepScale = true;
        ASSERT_TRUE(parseUpAxis(name, &options.up));
        MeshData mesh;
        ASSERT_EQ(importMesh("c.obj", options, &mesh), "");
        ASSERT_EQ(mesh.vertexCount, 4);
        // The file's up axis goes to +y (Assimp keeps the vertices in the file's order).
        const Point up = at(mesh, std::uint32_t(axisVertex));
        EXPECT_EQ(up, (Point{0, double(options.up.sign), 0}));
        // The file's x, y, z stay a right-handed frame: no mirror.
        const Point x = at(mesh, 1), y = at(mesh, 2), z = at(mesh, 3);
        EXPECT_EQ(x[0] * (y[1] * z[2] - y[2] * z[1]) - x[1] * (y[0] * z[2] - y[2] * z[0]) +
                      x[2] * (y[0] * z[1] - y[1] * z[0]),
                  1);
    }
    UpAxis up;
    for (const char* bad : {"", "w", "xy", "--x", "Y"})
        EXPECT_FALSE(parseUpAxis(bad, &up)) << bad;
}

TEST_F(ImportTest, DamagedOrEscapingModelsAreRefusedInOneLine) {
    const std::string ply = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                            "property float y\nproperty float z\n";
    const std::string gltf = R"({"asset":{"version":"2.0"},"buffers":[{"uri":"URI",
        "byteLength":36}],"bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[
        {"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","max":[1,1,0],
        "min":[0,0,0]}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
        "nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
    const auto uri = [&](const std::string& name) {
        return std::string(gltf).replace(gltf.find("URI"), 3, name);
    };
    writeFile("buffer.bin", std::string(36, '\0'));
    // The model's suffix, its text, and a piece of the refusal.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"obj", "v 0 0 0\nv 1e39 0 0\nv 0 1 0\nf 1 2 3\n", "non-finite vertex coordinate"},
        {"obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn nan 0 1\nf 1//1 2//1 3//1\n", "non-finite normal"},
        {"obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 9\n", "index out of range"},
        {"off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n", "vertex index out of range"},
        {"off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n", "file too short for its OFF counts"},
        // Homogeneous coordinates: a w of 0 is a point at infinity, not a bad number.
        {"off", "4OFF\n3 1 0\n0 0 0 1\n1 0 0 1\n0 1 0 0\n3 0 1 2\n",
         "OFF vertex 2 lies at infinity (homogeneous w = 0)"},
        {"off", "4OFF\n3 1 0\n0 0 0 1\n1 0 0\n0 1 0 1\n3 0 1 2\n",
         "OFF vertex 1 has no homogeneous w"},
        {"off", "nOFF\n4\n3 1 0\n0 0 0 0\n1 0 0 0\n0 1 0 0\n3 0 1 2\n",
         "coordinates higher than 3 unsupported"},
        {"ply", ply + "end_header\n0 0 0\n1 0 0\n", "file too short for its PLY header"},
        {"ply", ply + "property float x\n", "no end_header line"},
        {"ply", ply + "end_header\n0 0 0\n1 0 0\n0 1 0\n", "no triangles in this model"},
        {"ply",
         ply + "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n"
               "1 0 0\n0 1 0\n3 0 -1 2\n",
         "out of range"},
        // Only a triangle with two corners at one point (0 and -0 alike): no surface.
        {"obj", "v 0 0 0\nv 1 0 0\nv -0 0 0\nf 1 2 3\n",
         "no triangles in this model (1 dropped: repeated corners)"},
        {"gltf", uri("../buffer.bin"), "names m/../buffer.bin, outside the model's folder"},
        {"gltf", uri("/proc/self/environ"), "referenced file"},
        // A file the importer needs for geometry refuses the model, a material library forgiven.
        {"obj", "mtllib missing.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n", "can't read model"},
    };
    for (const auto& [suffix, text, message] : cases) {
        const std::string path = "m/model." + std::string(suffix);
        SCOPED_TRACE(path + "\n" + text);
        writeFile(path, text);
        MeshData mesh;
        expectRefusal(importMesh(path, MeshImportOptions(), &mesh), path + ": ", message);
        EXPECT_EQ(mesh.vertexCount, 0);
    }
}

TEST_F(ImportTest, EveryTriangleStaysWhateverTheUnits) {
    // Scan-like spheres whose triangles are far below a square millimetre in metres.
    const int segments = 200, rings = 101;
    const long long triangles = lumpySphereTriangles(segments, rings);
    ASSERT_EQ(writeLumpySpherePly("metres.ply", segments, rings, 0.05), "");
    ASSERT_EQ(writeLumpySpherePly("millimetres.ply", segments, rings, 50), "");
    // Through the origin: the same surface wound inside out, as a reversed copy arrives.
    ASSERT_EQ(writeLumpySpherePly("reversed.ply", segments, rings, -0.05), "");
    MeshData metres, millimetres, reversed;
    ImportReport report;
    ASSERT_EQ(importMesh("metres.ply", MeshImportOptions(), &metres, &report), "");
    EXPECT_EQ(report.droppedText(), "");
    ASSERT_EQ(importMesh("millimetres.ply", MeshImportOptions(), &millimetres), "");
    ASSERT_EQ(importMesh("reversed.ply", MeshImportOptions(), &reversed), "");
    EXPECT_EQ(metres.triangleCount, triangles);
    // The same mesh: scaled to unit radius, positions and normals agree to float precision (the
    // normals come from differences of nearby positions, rounded differently in each unit).
    EXPECT_EQ(millimetres.indices, metres.indices);
    ASSERT_EQ(millimetres.vertices.size(), metres.vertices.size());
    for (std::size_t i = 0; i < metres.vertices.size(); ++i)
        ASSERT_NEAR(millimetres.vertices[i], metres.vertices[i], 1e-4) << i;
    // Closed, so both face outward, normals too.
    const std::pair<int, int> outward = {int(triangles), metres.vertexCount};
    EXPECT_EQ(outwardCounts(metres), outward);
    EXPECT_EQ(outwardCounts(reversed), outward);
}

TEST_F(ImportTest, HomogeneousOffCoordinatesAreDividedByW) {
    for (const std::string head : {"4OFF\n", "4nOFF\n3\n"}) {
        SCOPED_TRACE(head);
        writeFile("t.off", head + "4 4 0\n0 0 0 2\n2 0 0 2\n0 -4 0 -2\n0 0 1 0.5\n" +
                               "3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n");
        MeshImportOptions options;
        options.keepScale = true;
        MeshData mesh;
        ASSERT_EQ(importMesh("t.off", options, &mesh), "");
        ASSERT_EQ(mesh.vertexCount, 4);
        EXPECT_EQ(at(mesh, 1), (Point{1, 0, 0}));
        EXPECT_EQ(at(mesh, 2), (Point{0, 2, 0}));
        EXPECT_EQ(at(mesh, 3), (Point{0, 0, 2}));
    }
}

// What goes is counted: triangles with two corners at one point, points and lines, and the
// materials, which are ignored where geometry would not be.
TEST_F(ImportTest, WhatIsLeftOutIsCounted) {
    const std::string corner = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const std::string triangle = corner + "usemtl red\nf 1 2 3\n";
    writeFile("outside.mtl", "newmtl red\nKd 1 0 0\n");
    writeFile("m/odd.mtl", "newmtl red\nKd 1 0 0\nPr 0.5\nillum 11\nmap_Kd missing.png\n");
    makeNotAFile("m/fifo.mtl", NotAFile::Fifo);
    writeFile("m/throws.mtl", "newmtl red\nKd 1 0 0\nbBackface 1\n");
    // The model, the triangles kept, the closing line's count of what was dropped, and the note
    // on the materials.
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        // A micrometre triangle is a triangle; vertices a micrometre apart stay apart.
        {"v 0 0 0\nv 1e-6 0 0\nv 0 1e-6 0\nv 1 1 1\nf 1 2 3\nf 2 4 3\n", 2, "", ""},
        {corner + "f 1 2 3\nf 1 1 2\n", 1, " (1 dropped: repeated corners)", ""},
        {corner + "v 1 0 0\nf 1 2 3\nf 1 2 4\nf 2 4 3\n", 1, " (2 dropped: repeated corners)", ""},
        {corner + "f 1 2 3\nl 1 2\np 3\n", 1, " (2 points and lines left out)", ""},
        {"mtllib missing.mtl\n" + triangle, 1, "", "Unable to locate material file missing.mtl"},
        {"mtllib fifo.mtl\n" + triangle, 1, "", "names m/fifo.mtl, which is not a regular file"},
        {"mtllib ../outside.mtl\n" + triangle, 1, "",
         "names m/../outside.mtl, outside the model's folder"},
        {"mtllib odd.mtl\n" + triangle, 1, "", "unexpected illumination model"},
        // A library the reader throws on: the model is read again without it.
        {"mtllib throws.mtl\n" + triangle, 1, "",
         "unreadable material library (OBJ/MTL: Encountered unknown texture type)"},
        {triangle, 1, "", "failed to locate material red"},
    };
    for (const auto& [text, kept, dropped, ignored] : cases) {
        SCOPED_TRACE(text);
        writeFile("m/model.obj", text);
        MeshData mesh;
        ImportReport report;
        ASSERT_EQ(importMesh("m/model.obj", MeshImportOptions(), &mesh, &report), "");
        EXPECT_EQ(mesh.triangleCount, kept);
        EXPECT_EQ(report.droppedText(), dropped);
        const std::string note = ignored.empty() ? "" : "; materials ignored: " + ignored;
        EXPECT_EQ(report.ignoredText().substr(0, note.size()), note);
        EXPECT_EQ(report.ignoredText().empty(), note.empty()) << report.ignoredText();
    }
}

TEST_F(ImportTest, TheContainedImportHandsOnTheMeshAndItsReport) {
    writeFile("m.obj", "mtllib missing.mtl\nv 0 0 0\nv 1 0 0\nv 0 2 0\nv 0 2 0\nf 1 2 3\n"
                       "f 1 3 4\nl 1 2\n");
    MeshData direct;
    ImportReport expected;
    ASSERT_EQ(importMesh("m.obj", MeshImportOptions(), &direct, &expected), "");
    std::vector<unsigned char> handed;
    ImportReport report;
    MeshImportOptions options;
    options.timeoutSeconds = 60;
    ASSERT_EQ(importMeshContained(
                  "m.obj", options,
                  [&](const unsigned char* data, std::size_t size) {
                      handed.assign(data, data + size);
                      return std::string();
                  },
                  &report),
              "");
    EXPECT_EQ(handed, encodeMesh(direct));
    EXPECT_EQ(report.droppedText(), " (1 dropped: repeated corners; 1 points and lines left out)");
    EXPECT_EQ(report.ignored, expected.ignored);
    EXPECT_EQ(report.vertexCount, direct.vertexCount);
    EXPECT_EQ(report.triangleCount, 1);
    float low[3], high[3];
    meshBounds(direct, low, high);
    EXPECT_TRUE(std::equal(low, low + 3, report.lowest) &&
                std::equal(high, high + 3, report.highest));
    // What the sink refuses is the import's answer.
    EXPECT_EQ(importMeshContained("m.obj", options,
                                  [](const unsigned char*, std::size_t) { return "out: full"; }),
              "out: full");
}

TEST_F(ImportTest, AnObjCubeBecomesAMeshWithOutwardNormals) {
    const std::string corners =
        "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 2 2 0\nv 0 0 2\nv 2 0 2\nv 0 2 2\nv 2 2 2\n";
    writeFile("smooth.obj", corners + "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\n"
                                      "f 2 4 8 6\n");
    // The same cube with one normal per face: its vertices stay apart, a corner per face.
    writeFile("flat.obj", corners + "vn 0 0 -1\nvn 0 0 1\nvn 0 -1 0\nvn 0 1 0\nvn -1 0 0\n"
                                    "vn 1 0 0\nf 1//1 3//1 4//1 2//1\nf 5//2 6//2 8//2 7//2\n"
                                    "f 1//3 2//3 6//3 5//3\nf 3//4 7//4 8//4 4//4\n"
                                    "f 1//5 5//5 7//5 3//5\nf 2//6 4//6 8//6 6//6\n");
    const double r = 1 / std::sqrt(3.0);
    const std::tuple<QStringList, int, double, double, bool> cases[] = {
        {{"smooth.obj"}, 8, -r, r, false},
        {{"smooth.obj", "--keep-scale"}, 8, 0, 2, false},
        {{"flat.obj"}, 24, -r, r, true},
        {{"flat.obj", "--recompute-normals"}, 8, -r, r, false},
    };
    for (const auto& [arguments, vertices, low, high, flat] : cases) {
        SCOPED_TRACE(arguments.join(" ").toStdString());
        ASSERT_EQ(runTool(QStringList{"mesh", "-o", "m.dat"} + arguments).status, 0);
        FileHandle file = openFile("m.dat", "rb");
        MeshData mesh;
        ASSERT_EQ(readMesh(file.get(), &mesh), "");
        EXPECT_EQ(mesh.vertexCount, vertices);
        EXPECT_EQ(mesh.triangleCount, 12);
        float lo[3], hi[3];
        meshBounds(mesh, lo, hi);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(lo[k], low, 1e-6);
            EXPECT_NEAR(hi[k], high, 1e-6);
        }
        // Each unit normal points out of its corner: along one axis (flat) or with the sign
        // of the corner's position on every axis (smooth).
        for (int v = 0; v < vertices; ++v) {
            const float* p = &mesh.vertices[std::size_t(v) * meshLayout::floatsPerVertex];
            EXPECT_NEAR(std::hypot(p[3], p[4], p[5]), 1, 1e-6);
            int along = 0, outward = 0;
            for (int k = 0; k < 3; ++k) {
                along += std::fabs(p[3 + k]) > 0.999;
                outward += p[3 + k] * (p[k] - (low + high) / 2) > 0;
            }
            EXPECT_EQ(along, flat ? 1 : 0);
            EXPECT_EQ(outward, flat ? 1 : 3);
        }
    }
}
