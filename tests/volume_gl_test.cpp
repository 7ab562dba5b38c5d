#include <GL/gl.h> // GL 1.2, enough for the calls here; GLEW would clash with glcontext.h

#include "volume.h"

#include "glcheck.h"
#include "glcontext.h"
#include "testsupport.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include <climits>

namespace {
// One context for the whole run: volumeTexture is a name in it.
void useGl() {
    ensureApplication(); // GlContext's surface needs the application's screen when built
    static GlContext* context = new GlContext;
    context->makeCurrent();
}

std::vector<unsigned char> samples(int n) {
    std::vector<unsigned char> bytes(std::size_t(3) * n * n * n);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    return bytes;
}

} // namespace

// Death tests run first, and "threadsafe" runs this one in a fresh process: the child has no
// QApplication, so the default notice shows no box and the exit status is the real one.
TEST(VolumeDeathTest, FatalErrorEndsWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    EXPECT_EXIT(loadVolumeNamed("absent"), testing::ExitedWithCode(1), "");
}

TEST(VolumeGlTest, BadFilesAreFatal) {
    useGl();
    ScratchDir dir;
    std::vector<unsigned char> shortHeader = volumeFile(1, "", samples(1));
    shortHeader.resize(4095);
    const std::string size = "bad header: invalid size";
    // Files with several faults report the first one checked.
    const std::pair<std::vector<unsigned char>, std::string> cases[] = {
        {volumeFile(0, "", {}, 5, 4, 2, "xOLU"), "bad header: invalid magic"},
        {shortHeader, "bad header: invalid magic"},
        {volumeFile(0, "", {}, 5, 4, 2), "bad header: version != 4"},
        {volumeFile(0, "", {}, 4, 4, 2), "bad header: only RGB textures supported"},
        {volumeFile(1, "", samples(1), 4, 3, 2), "bad header: only byte textures supported"},
        {volumeFile(0, "", {}), size},
        {volumeFile(-5, "", {}), size},
        {volumeFile(INT_MAX, "", {}), size},
        {volumeFile(2, "", std::vector<unsigned char>(23)), "file too short: truncated samples"},
    };
    EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("bad"); }), "can't open input file");
    for (const auto& [bytes, message] : cases) {
        dir.write("input/bad.vol", bytes);
        EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("bad"); }), message);
    }
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maxSize);
    dir.write("input/bad.vol", volumeFile(maxSize + 1, "", {}));
    EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("bad"); }).rfind("bad header: size", 0), 0u);
}

TEST(VolumeGlTest, UploadsSamplesAndLoadsReference) {
    useGl();
    ThrowingFatalNotice notice; // an unexpected fatal error fails the test instead of hanging
    ScratchDir dir;
    ASSERT_TRUE(QDir().mkpath("input") &&
                QImage(7, 3, QImage::Format_RGB888).save("input/ref.png"));
    // Each load replaces the volume in the same texture; a missing picture leaves the reference
    // empty. A name field with no NUL ends at the field's end: "././...//ref" fills all 260
    // bytes and names ref.png only when the size field after it is not taken as part of it.
    std::string fullField;
    while (fullField.size() < 256)
        fullField += "./";
    const std::tuple<int, std::string, int> loads[] = {
        {5, "ref", 7}, {3, "nothing", 0}, {2, fullField + "/ref", 7}};
    unsigned int texture = 0;
    for (const auto& [n, imageName, referenceWidth] : loads) {
        SCOPED_TRACE(n);
        dir.write("input/v.vol", volumeFile(n, imageName, samples(n)));
        loadVolumeNamed("v");
        EXPECT_EQ(volumeSize, n);
        std::vector<unsigned char> texels(samples(n).size());
        glBindTexture(GL_TEXTURE_3D, volumeTexture);
        glGetTexImage(GL_TEXTURE_3D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        checkGlErrors("reading the volume texture");
        EXPECT_EQ(texels, samples(n));
        EXPECT_EQ(referenceImage.width, referenceWidth);
        EXPECT_EQ(referenceImage.height, referenceWidth ? 3 : 0);
        EXPECT_EQ(referenceImage.pixels.size(), std::size_t(referenceWidth * 3 * 3));
        EXPECT_NE(volumeTexture, 0u);
        EXPECT_TRUE(texture == 0 || volumeTexture == texture);
        texture = volumeTexture;
    }
}
