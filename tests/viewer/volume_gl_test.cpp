#include <GL/glew.h>

#include "volume.h"

#include "glcontext.h"
#include "testsupport.h"

#include <QImage>

namespace {
// One GL context for the suite, current in each test; the files go to a scratch folder.
class VolumeGlTest : public testing::Test {
protected:
    void SetUp() override {
        static GlContext* shared = new GlContext;
        shared->makeCurrent();
    }
    ScratchDir dir;
};
} // namespace

// Only a picture inside the input folder is shown (the names that leave it are the codec test's).
TEST_F(VolumeGlTest, EachLoadReplacesTheSamplesAndThePictureItNames) {
    ThrowingFatalNotice notice;
    QDir().mkpath("input/sub");
    const QImage picture(7, 3, QImage::Format_RGB888);
    ASSERT_TRUE(picture.save("input/sub/ref.png") && picture.save("secret.png"));
    // N, the picture the header names, and its width (0: no picture). N = 5 has rows of 15
    // bytes, which the unpack alignment of 1 must take unpadded.
    const std::tuple<int, std::string, int> loads[] = {
        {5, "sub/ref", 7}, {3, "nothing", 0}, {2, "sub/ref", 7}, {2, "../secret", 0}};
    unsigned int texture = 0;
    for (const auto& [n, imageName, refWidth] : loads) {
        SCOPED_TRACE(imageName);
        writeFile("input/v.vol", volumeFile(n, imageName, samplePattern(n)));
        loadVolumeNamed("v");
        std::vector<unsigned char> texels(samplePattern(n).size());
        glBindTexture(GL_TEXTURE_3D, volumeTexture);
        glGetTexImage(GL_TEXTURE_3D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        EXPECT_EQ(volumeSize, n);
        EXPECT_EQ(texels, samplePattern(n));
        EXPECT_EQ(referenceImage.width, refWidth);
        EXPECT_TRUE(volumeTexture != 0 && (texture == 0 || volumeTexture == texture));
        texture = volumeTexture;
    }
}

// One refusal of each stage (the codec's test has them all).
TEST_F(VolumeGlTest, RefusedVolumesAreFatalWithTheirReason) {
    GLint max = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max);
    writeFile("input/short.vol", volumeFile(2, "", std::vector<unsigned char>(23)));
    writeFile("input/limit.vol", volumeFile(max + 1, "", {}));
    const std::pair<std::string, std::string> cases[] = {
        {"missing", "can't open input file"},
        {"limit", "bad header: size " + std::to_string(max + 1) + " exceeds the 3D texture limit " +
                      std::to_string(max)},
        {"short", "file too short: truncated samples"}};
    for (const auto& c : cases)
        EXPECT_EQ(fatalMessageOf([&] { loadVolumeNamed(c.first); }), c.second) << c.first;
}

// A 1024^3 volume is within llvmpipe's size limit but more than it can allocate: the proxy
// query refuses it before 3 GB are read. The file is sparse: its samples take no disk.
TEST_F(VolumeGlTest, AVolumeTheGlCannotHoldIsRefusedBeforeItIsRead) {
    if (glVolumeRefusal(1024).empty())
        GTEST_SKIP() << "this GL can hold a 1024^3 volume";
    writeFile("input/big.vol", volumeFile(1024, "", {}));
    QFile("input/big.vol").resize(volumeLayout::headerSize + qint64(volumeSampleBytes(1024)));
    EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("big"); }),
              "bad header: size 1024 is too large for this OpenGL");
}

// An upload the GL fails must not leave a black model. A texture whose storage is immutable
// refuses glTexImage3D, which provokes the failure without gigabytes.
TEST_F(VolumeGlTest, AFailedUploadIsFatal) {
    writeFile("input/v.vol", volumeFile(4, "", samplePattern(4)));
    const unsigned int texture = std::exchange(volumeTexture, 0u);
    const ScopeExit restore{[&] {
        glDeleteTextures(1, &volumeTexture);
        volumeTexture = texture;
    }};
    glGenTextures(1, &volumeTexture);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glTexStorage3D(GL_TEXTURE_3D, 1, GL_RGB8, 1, 1, 1);
    EXPECT_EQ(fatalMessageOf([] { loadVolumeNamed("v"); }),
              "can't upload the volume: gl error 0x0502");
}
