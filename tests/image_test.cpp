#include "image.h"

#include "testsupport.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include <climits>

namespace {
// A .raw file: width, height, channels, then the floats, top row first.
std::vector<unsigned char> rawFile(int w, int h, int c, const std::vector<float>& values) {
    std::vector<unsigned char> bytes;
    for (int v : {w, h, c})
        appendInt32(bytes, v);
    for (float v : values)
        appendFloat(bytes, v);
    return bytes;
}

std::vector<int> shape(const Image& i) {
    return {i.width, i.height, i.channels, int(i.pixels.size())};
}
} // namespace

TEST(ImageTest, RawFilesAreReadBottomRowFirst) {
    EXPECT_EQ(fileExtension("A/B.RAW"), ".raw");
    EXPECT_EQ(fileExtension("old.data/file"), ".data/file");
    EXPECT_EQ(fileExtension("noextension"), "");
    ScratchDir dir; // DevIL refuses these files, so success means the float reader ran
    dir.write("picture.RAW", rawFile(2, 3, 1, {1, 2, 3, 4, 5, 6}));
    dir.write("picture.raw", rawFile(2, 1, 2, {1, 2, 3, 4}));
    Image image;
    ASSERT_TRUE(image.load("picture.RAW"));
    EXPECT_EQ(shape(image), (std::vector<int>{2, 3, 1, 6}));
    EXPECT_EQ(image.pixels, (std::vector<float>{5, 6, 3, 4, 1, 2}));
    ASSERT_TRUE(image.load("picture.raw"));
    EXPECT_EQ(image.pixels, (std::vector<float>{1, 2, 3, 4}));

    // Bad sizes, sizes whose product wraps 64 bits (2^30 * 2^30 * 16) and short pixel data
    // all fail and leave the record empty, even after a good load.
    // clang-format off
    const int bad[][4] = {{0, 1, 1, 1}, {1, -1, 1, 1}, {1, 1, 0, 1}, {-2, -2, 1, 4},
        {1 << 30, 1 << 30, 16, 0}, {INT_MAX, INT_MAX, INT_MAX, 0}, {2, 2, 1, 3}, {3, 1, 1, 0}};
    // clang-format on
    for (const auto& b : bad) {
        dir.write("bad.raw", rawFile(b[0], b[1], b[2], std::vector<float>(b[3], 1)));
        ASSERT_TRUE(image.load("picture.raw"));
        EXPECT_FALSE(image.load("bad.raw")) << b[0] << "x" << b[1] << "x" << b[2];
        EXPECT_EQ(shape(image), std::vector<int>(4, 0)) << b[0] << "x" << b[1] << "x" << b[2];
    }
}

TEST(ImageTest, DevILReadsPngAsBottomUpBytes) {
    ensureApplication();
    ScratchDir dir;
    // QImage format, values per pixel it stores, channels loaded, PNG bit depth.
    const std::tuple<QImage::Format, int, int, int> cases[] = {
        {QImage::Format_Grayscale8, 1, 1, 8},
        {QImage::Format_RGB888, 3, 3, 8},
        {QImage::Format_RGBA8888, 4, 4, 8},
        {QImage::Format_Grayscale16, 1, 1, 16},
        {QImage::Format_RGBX64, 4, 3, 16}};
    const int w = 4, h = 2;
    auto byteAt = [](int x, int y, int k) { return (x * 85 + y * 40 + k * 100) % 256; };
    for (const auto& [format, stored, channels, bits] : cases) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        QImage picture(w, h, format);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < w * stored; ++i) {
                const int value = i % stored < channels ? byteAt(i / stored, y, i % stored) : 255;
                if (bits == 16)
                    reinterpret_cast<quint16*>(picture.scanLine(y))[i] = quint16(value * 257);
                else
                    picture.scanLine(y)[i] = uchar(value);
            }
        ASSERT_TRUE(picture.save("p.png"));
        QFile png("p.png"); // the IHDR bit depth shows the PNG really has the intended depth
        ASSERT_TRUE(png.open(QIODevice::ReadOnly) && png.read(25).at(24) == bits);
        Image image;
        ASSERT_TRUE(image.load("p.png"));
        ASSERT_EQ(shape(image), (std::vector<int>{w, h, channels, w * h * channels}));
        for (int i = 0; i < w * h * channels; ++i) { // record row 0 is the picture's last line
            const int x = i / channels % w, row = i / channels / w, k = i % channels;
            EXPECT_FLOAT_EQ(image.pixels[i], byteAt(x, h - 1 - row, k) / 255.0f) << i;
        }
        EXPECT_FALSE(image.load("missing.png"));
        EXPECT_EQ(shape(image), std::vector<int>(4, 0));
    }
}
