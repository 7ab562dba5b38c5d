#include "image.h"
#include "testsupport.h"

#include <QImage>

#include <climits>

namespace {
// A .raw file: width, height, channels, then the floats, top row first.
std::string rawFile(int w, int h, int c, const std::vector<float>& values) {
    std::vector<unsigned char> bytes;
    for (int v : {w, h, c})
        append32(bytes, v);
    for (float v : values)
        append32(bytes, v);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<int> shape(const Image& i) {
    return {i.width, i.height, i.channels, int(i.pixels.size())};
}

// A 1 x 1 PNG whose header claims the given sides.
std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
    std::string png = pngBytes(QImage(1, 1, QImage::Format_RGB888));
    for (int i = 0; i < 4; ++i) { // big-endian, right after "IHDR"
        png[16 + i] = char(width >> (24 - 8 * i));
        png[20 + i] = char(height >> (24 - 8 * i));
    }
    return png;
}
} // namespace

TEST(ImageTest, PngsComeBottomRowFirstInEightBitChannels) {
    // QImage format (16-bit ones store byte b as b * 257), channels loaded.
    const std::pair<QImage::Format, int> pngs[] = {{QImage::Format_Grayscale8, 1},
                                                   {QImage::Format_RGB888, 3},
                                                   {QImage::Format_RGBA8888, 4},
                                                   {QImage::Format_RGBX64, 3}};
    ScratchDir dir;
    Image image;
    for (const auto& [format, channels] : pngs) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        // Channel k of pixel i of a 4x2 picture, from the top left; grey has only k = 0.
        const auto v = [c = channels](int i, int k) { return (i * 85 + (c > 1) * k * 100) % 256; };
        QImage picture(4, 2, format);
        for (int i = 0; i < 8; ++i) // pixel 3 has the value 255
            picture.setPixelColor(i % 4, i / 4, QColor(v(i, 0), v(i, 1), v(i, 2), v(i, 3)));
        ASSERT_TRUE(picture.save("p.png") && image.load("p.png"));
        ASSERT_EQ(shape(image), (std::vector<int>{4, 2, channels, 8 * channels}));
        for (int j = 0; j < 8 * channels; ++j) // the record's pixel p is the picture's (p + 4) % 8
            EXPECT_FLOAT_EQ(image.pixels[j], v((j / channels + 4) % 8, j % channels) / 255.0f);
    }
}

// A partly copied picture once froze the viewer (the PNG reader loops on a file that ends in
// or after an ancillary chunk); none of these may hang, and each is no picture at all, the record
// left empty after a good load. Raw pictures come bottom row first.
TEST(ImageTest, DamagedPicturesAreNoPictureAndLeaveTheRecordEmpty) {
    ScratchDir dir; // DevIL refuses .raw files, so success means the float reader ran
    writeFile("picture.RAW", rawFile(2, 3, 1, {1, 2, 3, 4, 5, 6}));
    const std::string png = pngBytes(filledPicture(4, 4, Qt::red));
    const std::string head = png.substr(0, 33); // signature and IHDR
    std::vector<std::pair<std::string, std::string>> cases = {
        {"ancillary header then end.png", head + std::string("\0\0\0\x10tEXt", 8)},
        {"ancillary chunk then end.png", head + std::string("\0\0\0\2tEXtab\0\0\0\0", 14)},
        {"IDAT cut short.png", png.substr(0, png.size() - 12 - 5)},
        {"empty.png", ""}};
    // Raw: bad sizes, sizes whose product wraps 64 bits (2^30 * 2^30 * 16), short pixel data.
    // clang-format off
    const int raw[][4] = {{0, 1, 1, 1}, {1, -1, 1, 1}, {1, 1, 0, 1}, {-2, -2, 1, 4},
        {1 << 30, 1 << 30, 16, 0}, {INT_MAX, INT_MAX, INT_MAX, 0}, {2, 2, 1, 3}, {3, 1, 1, 0}};
    // clang-format on
    for (const auto& b : raw)
        cases.emplace_back(formatString("%dx%dx%d.raw", b[0], b[1], b[2]),
                           rawFile(b[0], b[1], b[2], std::vector<float>(b[3], 1)));
    Image image;
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(image.load("picture.RAW"));
        EXPECT_EQ(shape(image), (std::vector<int>{2, 3, 1, 6}));
        EXPECT_EQ(image.pixels, (std::vector<float>{5, 6, 3, 4, 1, 2}));
        writeFile(name, bytes);
        EXPECT_FALSE(image.load(name));
        EXPECT_EQ(shape(image), std::vector<int>(4, 0));
    }
}

// The limit is on the decoded size, checked from the header: a long thin picture shows, and a
// small file's claim of gigabytes is refused before DevIL allocates for it.
TEST(ImageTest, PngsAreLimitedInPixelsNotInSidesAndThePictureCheckSaysWhy) {
    // width, height, accepted; the last ones' product wraps 32 and 64 bits.
    const std::tuple<std::uint32_t, std::uint32_t, bool> claims[] = {
        {4096, 4096, true},    {4097, 4096, false},       {16385, 40, true},
        {1, 1 << 24, true},    {1, (1 << 24) + 1, false}, {0, 1, false},
        {20000, 20000, false}, {1u << 31, 2, false},      {0xFFFFFFFF, 0xFFFFFFFF, false}};
    for (const auto& [width, height, accepted] : claims) {
        const std::string png = pngClaiming(width, height);
        EXPECT_EQ(isWholePng(reinterpret_cast<const unsigned char*>(png.data()), png.size()),
                  accepted)
            << width << " x " << height;
    }
    ScratchDir dir;
    ASSERT_TRUE(filledPicture(16385, 40, Qt::blue).save("thin.png"));
    Image image;
    ASSERT_TRUE(image.load("thin.png"));
    EXPECT_EQ(shape(image), (std::vector<int>{16385, 40, 3, 16385 * 40 * 3}));
    EXPECT_EQ(image.pixels.back(), 1.0f); // blue

    // The reason the viewer shows no picture, which info and check print, and the file cap, which
    // must let through any picture of the pixel limit, even stored uncompressed at 16-bit RGBA.
    QImage tiny(1, 1, QImage::Format_RGB888);
    const std::string png = pngBytes(tiny), claim = pngClaiming(4097, 4096);
    const std::pair<std::string, std::string> cases[] = {
        {"GIF89a not judged before decoding", ""},
        {png.substr(0, png.size() - 12), "a PNG that ends early or is damaged"},
        {"", "an empty file"},
    };
    for (const auto& [bytes, reason] : cases)
        EXPECT_EQ(
            pictureBytesProblem(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
            reason);
    EXPECT_GE(maxPictureFileBytes, maxPicturePixels * 9); // 16-bit RGBA and a byte a row
    EXPECT_NE(pictureBytesProblem(nullptr, std::size_t(maxPictureFileBytes) + 1), "");

    writeFile("claim.png", claim);
    ASSERT_TRUE(tiny.save("ok.png"));
    EXPECT_EQ(loadPicture("claim.png", &image), "a PNG of 4097 x 4096 pixels, more than 16777216");
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(loadPicture("missing", &image), "no file"); // a name without an extension too
    EXPECT_EQ(loadPicture("ok.png", &image), "");
    EXPECT_EQ(image.width, 1);
}
