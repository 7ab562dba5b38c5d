#include <GL/gl.h> // GL 1.2 covers the calls here

#include "volume.h"

#include "glcontext.h"
#include "testsupport.h"

#include <QImage>

#include <climits>

static std::vector<unsigned char> samples(int n) {
    std::vector<unsigned char> bytes(std::size_t(3) * n * n * n);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    return bytes;
}

TEST(VolumeGlTest, BadFilesAreFatalAndGoodOnesAreUploadedExactly) {
    ScratchDir dir;
    // "threadsafe" reruns the test to here, before any QApplication: no box, the real status.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(loadVolumeNamed("absent"), testing::ExitedWithCode(1), "");

    GlContext context;
    ThrowingFatalNotice notice; // an unexpected fatal error fails the test instead of hanging
    GLint max = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max);
    const std::string size = "bad header: invalid size";
    // Files with several faults report the first one checked.
    const std::pair<std::vector<unsigned char>, std::string> cases[] = {
        {volumeFile(0, "", {}, 5, 4, 2, "xOLU"), "bad header: invalid magic"},
        {{'V', 'O', 'L', 'U', 4}, "bad header: invalid magic"}, // shorter than the header
        {volumeFile(0, "", {}, 5, 4, 2), "bad header: version != 4"},
        {volumeFile(0, "", {}, 4, 4, 2), "bad header: only RGB textures supported"},
        {volumeFile(1, "", samples(1), 4, 3, 2), "bad header: only byte textures supported"},
        {volumeFile(0, "", {}), size},
        {volumeFile(-5, "", {}), size},
        {volumeFile(INT_MAX, "", {}), size},
        {volumeFile(max + 1, "", {}), "bad header: size " + std::to_string(max + 1) +
                                          " exceeds the 3D texture limit " + std::to_string(max)},
        {volumeFile(2, "", std::vector<unsigned char>(23)), "file too short: truncated samples"},
    };
    EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("bad"); }), "can't open input file");
    for (const auto& [bytes, message] : cases) {
        writeFile("input/bad.vol", bytes);
        EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("bad"); }), message);
    }

    // Each load replaces the volume in the same texture; a missing picture leaves the reference
    // empty. A name field without NUL ends at the field's end: 257 slashes and "ref" fill it
    // and name ref.png only when the size field after it is not taken as part of it.
    ASSERT_TRUE(QImage(7, 3, QImage::Format_RGB888).save("input/ref.png"));
    const std::tuple<int, std::string, int> loads[] = {
        {5, "ref", 7}, {3, "nothing", 0}, {2, [] { std::string s; for (int i = 0; i < 128; ++i) s += "./"; return s + "/ref"; }(), 7}};
    unsigned int texture = 0;
    for (const auto& [n, imageName, refWidth] : loads) {
        SCOPED_TRACE(n);
        writeFile("input/v.vol", volumeFile(n, imageName, samples(n)));
        loadVolumeNamed("v");
        std::vector<unsigned char> texels(samples(n).size());
        glBindTexture(GL_TEXTURE_3D, volumeTexture);
        glGetTexImage(GL_TEXTURE_3D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_EQ(volumeSize, n);
        EXPECT_EQ(texels, samples(n));
        EXPECT_EQ(referenceImage.pixels.size(), std::size_t(refWidth * 3 * 3));
        EXPECT_TRUE(volumeTexture != 0 && (texture == 0 || volumeTexture == texture));
        texture = volumeTexture;
    }
}
