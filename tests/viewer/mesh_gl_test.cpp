#include <GL/glew.h>

#include "mesh.h"

#include "glcheck.h"
#include "glcontext.h"
#include "testsupport.h"

TEST(MeshGlTest, LoadPrintsItsProgressAndFillsTheBuffers) {
    GlContext context;
    ThrowingFatalNotice notice;
    ScratchDir dir;
    writeFile("input/m.dat", meshFile(3, 1, {0, 0, 0, 2, 1, 0, 1, 3, -1}, {0, 1, 2}));
    EXPECT_EQ(captureStdout([] { loadMesh("m"); }),
              "loading 'm'... min: (0.00, 0.00, -1.00) max: (2.00, 3.00, 0.00)\n[done]\n");
    const auto bufferSize = [](GLenum target, unsigned int buffer) {
        GLint bytes = -1;
        glBindBufferARB(target, buffer);
        glGetBufferParameterivARB(target, GL_BUFFER_SIZE_ARB, &bytes);
        return bytes;
    };
    EXPECT_EQ(bufferSize(GL_ARRAY_BUFFER_ARB, meshVertexBuffer), 3 * 36);
    EXPECT_EQ(bufferSize(GL_ELEMENT_ARRAY_BUFFER_ARB, meshIndexBuffer), 12);
    drawMesh();
    checkGlErrors("drawing the mesh");

    // Whatever is not a readable mesh stops the viewer before anything is replaced.
    writeFile("input/bad.dat", meshFile(1, 1, {0, 0, 0}, {0, 0, 1}));
    // (Folders and FIFOs are openFile's to refuse: its own test has them.)
    const std::pair<QString, std::string> failures[] = {{"missing", "can't open input file"},
                                                        {"bad", "bad mesh: index out of range"}};
    for (const auto& failure : failures)
        EXPECT_EQ(fatalMessageOf([&] { captureStdout([&] { loadMesh(failure.first); }); }),
                  failure.second);
    EXPECT_EQ(meshTriangleCount, 1);
}
