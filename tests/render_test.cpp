// The render layer's parts that need no GL: the volume list, the slice position, the overlay.
#include "frame.h"
#include "image.h"
#include "scene.h"
#include "slice.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QDir>

TEST(Render, VolumeListAndSlicePosition) {
    ScratchDir scratch;
    for (const char* name :
         {"b.vol", "a.vol", "C.vol", "x.VOL", "notes.txt", ".hidden.vol", ".vol", "a.vo", "ab.vol"})
        scratch.write(name, std::string("x"));
    ASSERT_TRUE(QDir().mkdir("d.vol"));
    QStringList list; // filled the way initScene fills the combo box
    for (const QString& name : volumeEntries(QString::fromStdString(scratch.path())))
        list.insert(0, name);
    EXPECT_EQ(list, QStringList({"C", "a", "ab", "b", "d"}));

    EXPECT_EQ(slicePosition(0), -0.999f);
    EXPECT_EQ(slicePosition(50), 0.0f);
    EXPECT_EQ(slicePosition(100), 0.999f);
    for (int v = 0; v <= 100; ++v) // the single-precision steps, exactly
        EXPECT_EQ(slicePosition(v), float(float(v / 100.0) * 1.998 - 0.999)) << v;
}

TEST(Render, OverlayHoldsTheImageAtTheBottomLeft) {
    struct Case {
        int imageWidth, imageHeight, channels;
        std::vector<float> pixels;
        int width, height;
        std::vector<int> rgb; // expected per image pixel, bottom row first
    };
    // Pixel (x, y) of a 3x2 image is (0.2 x, 0.4 y, 0).
    const std::vector<float> grid{0, 0,    0, 0.2f, 0,    0, 0.4f, 0,    0,
                                  0, 0.4f, 0, 0.2f, 0.4f, 0, 0.4f, 0.4f, 0};
    const std::vector<int> gridRgb{0, 0,   0, 51, 0,   0, 102, 0,   0,
                                   0, 102, 0, 51, 102, 0, 102, 102, 0};
    const Case cases[] = {
        // Saturation, clamping and truncation (0.999 gives 254); a larger panel.
        {2, 1, 3, {1.0f, 1.5f, -0.2f, 0.999f, 0.5f, 0.0f}, 3, 2, {255, 255, 0, 254, 127, 0}},
        // A smaller panel shows only the bottom-left part.
        {3, 2, 3, grid, 4, 3, gridRgb},
        {3, 2, 3, grid, 2, 1, gridRgb},
        // The fourth channel is ignored; one channel shows as grey.
        {1, 1, 4, {0.2f, 0.4f, 0.6f, 0.0f}, 2, 2, {51, 102, 153}},
        {2, 1, 1, {0.4f, 1.0f}, 2, 1, {102, 102, 102, 255, 255, 255}},
        {0, 0, 0, {}, 3, 2, {}},
    };
    for (const Case& c : cases) {
        Image image;
        image.width = c.imageWidth, image.height = c.imageHeight, image.channels = c.channels;
        image.pixels = c.pixels;
        std::vector<unsigned char> overlay(std::size_t(c.width) * c.height * 4, 77);
        fillOverlay(overlay.data(), c.width, c.height, image);
        std::vector<int> expected; // opaque image pixels, transparent black elsewhere
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = x < c.imageWidth && y < c.imageHeight;
                for (int k = 0; k < 3; ++k)
                    expected.push_back(inside ? c.rgb[(y * c.imageWidth + x) * 3 + k] : 0);
                expected.push_back(inside ? 255 : 0);
            }
        EXPECT_EQ(std::vector<int>(overlay.begin(), overlay.end()), expected)
            << c.imageWidth << "x" << c.imageHeight << " in " << c.width << "x" << c.height;
    }
}
