#include "frame.h"
#include "image.h"
#include "testsupport.h"

TEST(RenderTest, OverlayHoldsThePictureAtTheBottomLeft) {
    struct Case {
        Image image;
        int width, height;
        std::vector<int> rgb; // expected for the panel pixels the image covers, bottom row first
    };
    const Case cases[] = {
        // Saturation, clamping and truncation (0.999 gives 254) in a larger panel.
        {{2, 1, 3, {1.0f, 1.5f, -0.2f, 0.999f, 0.5f, 0.0f}}, 3, 2, {255, 255, 0, 254, 127, 0}},
        // A smaller panel shows the bottom-left part, rows read at the image's own stride; one
        // channel shows as grey.
        {{2, 3, 1, {0.2f, 1, 0.4f, 1, 0.6f, 1}}, 1, 2, {51, 51, 51, 102, 102, 102}},
        // The fourth channel is ignored.
        {{1, 1, 4, {0.2f, 0.4f, 0.6f, 0.0f}}, 2, 2, {51, 102, 153}},
    };
    for (const Case& c : cases) {
        const Image& image = c.image;
        std::vector<unsigned char> overlay(std::size_t(c.width) * c.height * 4, 77);
        fillOverlay(overlay.data(), c.width, c.height, image);
        std::vector<int> expected; // opaque image pixels, transparent black elsewhere
        auto rgb = c.rgb.begin();
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = x < image.width && y < image.height;
                for (int k = 0; k < 3; ++k)
                    expected.push_back(inside ? *rgb++ : 0);
                expected.push_back(inside ? 255 : 0);
            }
        EXPECT_EQ(std::vector<int>(overlay.begin(), overlay.end()), expected)
            << image.width << "x" << image.height << " in " << c.width << "x" << c.height;
    }
}
