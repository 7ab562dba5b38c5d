#include "meshfile.h"
#include "testsupport.h"

TEST(MeshFileTest, ReadsVerticesWithTextureCoordinatesAndBounds) {
    // Positions, each with the normal (0, 0, 1), the expected lower and upper bounds.
    const std::tuple<std::vector<float>, std::vector<float>, std::vector<float>> cases[] = {
        {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, {{0, 0, 0, 2, 1, 0, 1, 3, -1}, {0, 0, -1}, {2, 3, 0}}};
    for (const auto& [xyz, lowest, highest] : cases) {
        const int v = int(xyz.size() / 3);
        MeshData mesh;
        ASSERT_EQ(readMesh(streamOf(meshFile(v, 1, xyz, {0, 0, v - 1})).get(), &mesh), "");
        EXPECT_EQ(std::make_pair(mesh.vertexCount, mesh.triangleCount), std::make_pair(v, 1));
        EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 0, std::uint32_t(v - 1)}));
        for (std::size_t k = 0; k < xyz.size(); ++k) {
            const std::size_t at = k / 3 * 9 + k % 3;
            EXPECT_EQ(mesh.vertices[at], xyz[k]);
            EXPECT_EQ(mesh.vertices[at + 3], k % 3 == 2 ? 1.0f : 0.0f); // the normal as stored
            EXPECT_EQ(mesh.vertices[at + 6], 3 * xyz[k]);               // texture coordinate
        }
        float lo[3], hi[3];
        meshBounds(mesh, lo, hi);
        EXPECT_EQ(std::vector<float>(lo, lo + 3), lowest);
        EXPECT_EQ(std::vector<float>(hi, hi + 3), highest);
    }
}

TEST(MeshFileTest, DamagedMeshesAreRefusedWithTheirFault) {
    const std::string shortFile = "file too short: truncated mesh";
    std::vector<std::pair<std::vector<unsigned char>, std::string>> cases = {
        {meshFile(-1, 0, {}, {}), "bad mesh: negative count"},
        {meshFile(0, -1, {}, {}), "bad mesh: negative count"},
        {meshFile(2, 0, {0, 0, 0}, {}), shortFile},
        {meshFile(1, 1, {0, 0, 0}, {0, 0}), shortFile},
        {meshFile(0x7FFFFFFF, 0, {}, {}), shortFile},                      // INT_MAX
        {meshFile(0, 0x30000000, {}, {}), "bad mesh: too many triangles"}, // 3T > INT_MAX
        {meshFile(1, 1, {0, 0, 0}, {0, 0, 1}), "bad mesh: index out of range"},
        {meshFile(1, 1, {0, 0, 0}, {0, -1, 0}), "bad mesh: index out of range"},
    };
    for (std::size_t length = 0; length < 8; ++length) // cut inside the two counts
        cases.push_back({std::vector<unsigned char>(length, 0), shortFile});
    for (const auto& [bytes, message] : cases) {
        MeshData mesh;
        EXPECT_EQ(readMesh(streamOf(bytes).get(), &mesh), message) << bytes.size() << " bytes";
    }
}
