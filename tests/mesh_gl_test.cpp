#include <GL/glew.h>

#include "mesh.h"
#include "glcheck.h"
#include "glcontext.h"
#include "testsupport.h"

// A .dat file: the counts, each position with the normal (0, 0, 1), then the indices.
static std::vector<unsigned char> meshFile(int v, int t, const std::vector<float>& xyz,
                                           const std::vector<int>& indices) {
    std::vector<unsigned char> bytes;
    for (int count : {v, t})
        append32(bytes, count);
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3)
        for (float value : {xyz[i], xyz[i + 1], xyz[i + 2], 0.0f, 0.0f, 1.0f})
            append32(bytes, value);
    for (int index : indices)
        append32(bytes, index);
    return bytes;
}

TEST(MeshGlTest, LoadPrintsBoundsFillsBuffersAndDamagedFilesAreFatal) {
    GlContext context;
    ThrowingFatalNotice notice; // an unexpected fatal error fails the test instead of hanging
    ScratchDir dir;
    const auto bufferSize = [](GLenum target, unsigned int buffer) {
        GLint bytes = -1;
        glBindBufferARB(target, buffer);
        glGetBufferParameterivARB(target, GL_BUFFER_SIZE_ARB, &bytes);
        return bytes;
    };
    const std::string f = "99999998430674944.00"; // 1e17: V = 0 leaves the bounds at -f and f
    const std::tuple<std::vector<float>, std::vector<int>, std::string> cases[] = {
        {{}, {}, "(" + f + ", " + f + ", " + f + ") max: (-" + f + ", -" + f + ", -" + f + ")"},
        {{1, 2, 3}, {}, "(1.00, 2.00, 3.00) max: (1.00, 2.00, 3.00)"},
        {{0, 0, 0, 2, 1, 0, 1, 3, -1}, {0, 1, 2}, "(0.00, 0.00, -1.00) max: (2.00, 3.00, 0.00)"}};
    for (const auto& [xyz, indices, bounds] : cases) {
        const int v = int(xyz.size() / 3), t = int(indices.size() / 3);
        writeFile("input/m.dat", meshFile(v, t, xyz, indices));
        EXPECT_EQ(captureStdout([] { loadMesh("m"); }),
                  "loading 'm'... min: " + bounds + "\n[done]\n");
        EXPECT_EQ(std::make_pair(meshVertexCount, meshTriangleCount), std::make_pair(v, t));
        for (std::size_t k = 0; k < xyz.size(); ++k) // texture coordinate = 3 * position
            EXPECT_EQ(meshVertices.at(k / 3 * 9 + 6 + k % 3), 3 * xyz[k]);
        EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER_ARB, meshVertexBuffer), 36 * v);
        EXPECT_EQ(bufferSize(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer), 12 * t);
        drawMesh();
        checkGlErrors("drawing the mesh");
    }

    const std::pair<std::vector<unsigned char>, std::string> damaged[] = {
        {meshFile(-1, 0, {}, {}), "bad mesh: negative count"},
        {meshFile(0, -1, {}, {}), "bad mesh: negative count"},
        {meshFile(2, 0, {0, 0, 0}, {}), "file too short: truncated mesh"},
        {meshFile(1, 1, {0, 0, 0}, {0, 0}), "file too short: truncated mesh"},
        {meshFile(0x7FFFFFFF, 0, {}, {}), "file too short: truncated mesh"}, // INT_MAX
        {meshFile(0, 0x30000000, {}, {}), "bad mesh: too many triangles"},   // 3T > INT_MAX
        {meshFile(1, 1, {0, 0, 0}, {0, 0, 1}), "bad mesh: index out of range"},
        {meshFile(1, 1, {0, 0, 0}, {0, -1, 0}), "bad mesh: index out of range"},
    };
    EXPECT_EQ(fatalMessageOf([] { loadMesh("bad"); }), "can't open input file");
    for (const auto& [bytes, message] : damaged) {
        writeFile("input/bad.dat", bytes);
        EXPECT_EQ(fatalMessageOf([] { loadMesh("bad"); }), message);
    }
}
