#include <GL/glew.h>

#include "mesh.h"

#include "glcheck.h"
#include "testsupport.h"

// Qt warns about any GL header after GLEW's; the GL calls here all go through GLEW.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcpp"
#include "glcontext.h"
#pragma GCC diagnostic pop

#include <gtest/gtest.h>

#include <climits>

namespace {
// One context for the whole run: the mesh buffers are names in it.
void useGl() {
    ensureApplication(); // GlContext's surface needs the application's screen when built
    static GlContext* context = new GlContext;
    context->makeCurrent();
}

// A .dat file: the counts, each position with the normal (0, 0, 1), then the indices.
std::vector<unsigned char> meshFile(std::int32_t v, std::int32_t t, const std::vector<float>& xyz,
                                    const std::vector<std::int32_t>& indices) {
    std::vector<unsigned char> bytes;
    appendInt32(bytes, v);
    appendInt32(bytes, t);
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3)
        for (float value : {xyz[i], xyz[i + 1], xyz[i + 2], 0.0f, 0.0f, 1.0f})
            appendFloat(bytes, value);
    for (std::int32_t index : indices)
        appendInt32(bytes, index);
    return bytes;
}

GLint bufferSize(GLenum target, unsigned int buffer) {
    GLint bytes = -1;
    glBindBufferARB(target, buffer);
    glGetBufferParameterivARB(target, GL_BUFFER_SIZE_ARB, &bytes);
    return bytes;
}

const std::vector<float> triangle = {0, 0, 0, 2, 1, 0, 1, 3, -1};
} // namespace

TEST(MeshGlTest, LoadPrintsBoundsAndFillsBuffers) {
    useGl();
    ThrowingFatalNotice notice; // an unexpected fatal error fails the test instead of hanging
    ScratchDir dir;
    const std::string f = "99999998430674944.00";
    // Positions, indices, and the bounds printed.
    const std::tuple<std::vector<float>, std::vector<std::int32_t>, std::string> cases[] = {
        {{}, {}, f + ", " + f + ", " + f + ") max: (-" + f + ", -" + f + ", -" + f},
        {{1, 2, 3}, {}, "1.00, 2.00, 3.00) max: (1.00, 2.00, 3.00"},
        {triangle, {0, 1, 2}, "0.00, 0.00, -1.00) max: (2.00, 3.00, 0.00"}};
    for (const auto& [xyz, indices, box] : cases) {
        const auto v = std::int32_t(xyz.size() / 3), t = std::int32_t(indices.size() / 3);
        SCOPED_TRACE(v);
        dir.write("input/m.dat", meshFile(v, t, xyz, indices));
        EXPECT_EQ(captureStdout([] { loadMesh("m"); }),
                  "loading 'm'... min: (" + box + ")\n[done]\n");
        EXPECT_EQ(meshVertexCount, v);
        EXPECT_EQ(meshTriangleCount, t);
        ASSERT_EQ(meshVertices.size(), std::size_t(9 * v));
        for (std::size_t k = 0; k < xyz.size(); ++k) // texture coordinate = 3 * position
            EXPECT_EQ(meshVertices[k / 3 * 9 + 6 + k % 3], 3 * xyz[k]);
        EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER_ARB, meshVertexBuffer), 36 * v);
        EXPECT_EQ(bufferSize(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer), 12 * t);
        drawMesh();
        checkGlErrors("drawing the mesh");
    }
}

TEST(MeshGlTest, DamagedFilesAreFatalAndKeepTheLoadedMesh) {
    useGl();
    ScratchDir dir;
    const std::vector<unsigned char> good = meshFile(3, 1, triangle, {0, 1, 2});
    dir.write("input/good.dat", good);
    captureStdout([] { loadMesh("good"); });
    const std::string negative = "bad mesh: negative count", range = "bad mesh: index out of range";
    const std::string truncated = "file too short: truncated mesh";
    const std::pair<std::vector<unsigned char>, std::string> cases[] = {
        {meshFile(-1, 0, {}, {}), negative},
        {meshFile(0, -1, {}, {}), negative},
        {{good.begin(), good.begin() + 8 + 3 * 24 - 4}, truncated},
        {{good.begin(), good.end() - 1}, truncated},
        {meshFile(INT_MAX, 0, {}, {}), truncated},
        {meshFile(3, 1, triangle, {0, 1, 3}), range},
        {meshFile(3, 1, triangle, {0, -1, 2}), range},
    };
    EXPECT_EQ(fatalMessageOf([] { loadMesh("bad"); }), "can't open input file");
    for (const auto& [bytes, message] : cases) {
        dir.write("input/bad.dat", bytes);
        EXPECT_EQ(fatalMessageOf([] { loadMesh("bad"); }), message);
        EXPECT_EQ(meshVertexCount, 3);
        EXPECT_EQ(meshTriangleCount, 1);
    }
}
