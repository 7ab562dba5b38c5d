#include "formattable.h"
#include "halffloat.h"
#include "mrcfiles.h"
#include "filerefused.h"
#include "formatsupport.h"

#include <cmath>

namespace {
const bool hostBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Two 4-bit values a byte, the first in the low half; a row of odd length ends in half a byte.
std::string packNibbles(const std::vector<double>& values, int width) {
    std::string bytes;
    for (std::size_t i = 0; i < values.size(); i += std::size_t(width))
        for (int x = 0; x < width; x += 2) {
            const int low = int(values[i + std::size_t(x)]);
            const int high = x + 1 < width ? int(values[i + std::size_t(x) + 1]) : 0;
            bytes += char(low | high << 4);
        }
    return bytes;
}
} // namespace

TEST(HalfFloatTest, EveryKindOfHalfWidensExactly) {
    const std::pair<std::uint16_t, float> halves[] = {
        {0x0000, 0.0f},
        {0x3c00, 1.0f},
        {0xc000, -2.0f},
        {0x3555, 0.333251953125f},
        {0x7bff, 65504.0f},
        {0x0400, std::ldexp(1.0f, -14)},    // smallest normal
        {0x0001, std::ldexp(1.0f, -24)},    // smallest subnormal
        {0x03ff, std::ldexp(1023.0f, -24)}, // largest subnormal
        {0x7c00, INFINITY},
        {0xfc00, -INFINITY},
    };
    for (const auto& [bits, value] : halves) {
        SCOPED_TRACE(bits);
        EXPECT_EQ(halfToFloat(bits), value);
    }
    EXPECT_TRUE(std::signbit(halfToFloat(0x8000)) && halfToFloat(0x8000) == 0);
    EXPECT_TRUE(std::isnan(halfToFloat(0x7e00)) && std::isnan(halfToFloat(0xfc01)));
}

TEST(MrcTest, EveryModeReadsInEitherByteOrder) {
    ScratchDir dir;
    ensureApplication();
    // Each mode with values its type holds (3 x 2 x 2 of them), stored as the mode stores them,
    // and the values they are read as.
    struct Mode {
        int mode;
        SampleType stored, read;
        std::vector<double> values;
    };
    std::vector<double> signedBytes, wide, nibbles;
    for (int i = 0; i < 12; ++i) {
        signedBytes.push_back(i * 23 - 128);
        wide.push_back(i * 5000.5 - 20000);
        nibbles.push_back(i + 3 * (i % 2));
    }
    const std::vector<double> shorts = {-32768, -1, 0, 1, 2, 300, 4000, 5000, 32767, 7, 8, 9};
    const std::vector<double> halves = {
        1, -2, 0.5, 65504, std::ldexp(1.0, -14), std::ldexp(1.0, -24), 0, 1, 2, 3, 4, 5};
    const std::vector<double> halfBits = {0x3c00, 0xc000, 0x3800, 0x7bff, 0x0400, 0x0001,
                                          0,      0x3c00, 0x4000, 0x4200, 0x4400, 0x4500};
    const Mode modes[] = {
        {0, SampleType::Int8, SampleType::Int8, signedBytes},
        {1, SampleType::Int16, SampleType::Int16, shorts},
        {2, SampleType::Float32, SampleType::Float32, wide},
        {6, SampleType::UInt16, SampleType::UInt16, {0, 1, 65535, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {12, SampleType::UInt16, SampleType::Float32, halves},
        {101, SampleType::UInt8, SampleType::UInt8, nibbles},
    };
    for (const Mode& m : modes)
        for (const bool big : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << m.mode << (big ? " big" : " little"));
            MrcFile file;
            file.mode = m.mode;
            file.bigEndian = big;
            file.sizes[0] = 3;
            file.cell[0] = 6;
            file.cell[1] = 5;
            file.cell[2] = 1;
            file.extendedBytes = 40; // passed over
            const std::vector<double>& stored = m.mode == 12 ? halfBits : m.values;
            const std::string samples = m.mode == 101
                                            ? packNibbles(m.values, 3)
                                            : typedBytes(m.stored, stored, big != hostBig);
            writeFile("v.mrc", mrcBytes(file, samples));
            TypedSource source;
            EXPECT_EQ(packSamples({"v.mrc"}, {}, &source), typedBytes(m.read, m.values));
            EXPECT_EQ(describe(source.info),
                      std::string("MRC: 3x2x2 ") + sampleTypeName(m.read) +
                          "*1 alpha -1, spacing 2 2.5 0.5 known, rows top-down, as "
                          "pictures");
            EXPECT_EQ(source.info.axes.frame, AxisFrame::Array);
        }
}

TEST(MrcTest, StacksGiveTheirImagesOrTheVolumePicked) {
    ScratchDir dir;
    ensureApplication();
    const std::string samples = typedPattern(SampleType::Int16, 2, 2, 6, 1);
    const std::size_t volumeBytes = samples.size() / 3;
    MrcFile file;
    file.mode = 1;
    file.sizes[2] = 6;
    file.cell[0] = file.cell[1] = 4;
    file.cell[2] = 12;
    struct Case {
        int spaceGroup, mz, volume;
        std::string samples, found; // describe() up to the spacing's word, or the refusal
    };
    const std::string spacing = "int16*1 alpha -1, spacing 2 2 ";
    const Case cases[] = {
        {1, 6, -1, samples, "MRC: 2x2x6 " + spacing + "2 known"},
        {1, 6, 0, samples, "MRC: 2x2x6 " + spacing + "2 known"},
        {1, 6, 1, "", "no volume 1: the input holds one"},
        {0, 6, -1, samples, "MRC image stack: 2x2x6 " + spacing + "1 unknown"},
        {401, 2, 2, samples.substr(2 * volumeBytes),
         "MRC, volume 2 of 3: 2x2x2 " + spacing + "6 known"},
        {401, 2, 0, samples.substr(0, volumeBytes),
         "MRC, volume 0 of 3: 2x2x2 " + spacing + "6 known"},
        {401, 2, -1, "", "MRC volume stack of 3 volumes: pick one with --volume T (0 to 2)"},
        {401, 2, 3, "", "no volume 3: the input holds 3 (0 to 2)"},
        {401, 4, 0, "", "not a whole number of volumes of mz = 4 sections"},
        {401, -1, 0, "", "not a whole number of volumes of mz = -1 sections"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.spaceGroup << " " << c.mz << " " << c.volume);
        file.spaceGroup = c.spaceGroup;
        file.sampling[2] = c.mz;
        writeFile("s.mrc", mrcBytes(file, samples));
        TypedSource source;
        const std::string read = packSamples({"s.mrc"}, InputSelection(-1, c.volume), &source);
        if (c.samples.empty()) {
            expectRefusal(read, "s.mrc: ", c.found);
            continue;
        }
        EXPECT_EQ(read, c.samples);
        EXPECT_EQ(describe(source.info).substr(0, c.found.size()), c.found);
    }
}

TEST(MrcTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const std::string bytes = typedPattern(SampleType::Float32, 2, 2, 2, 1);
    const auto with = [&](auto change, const std::string& samples) {
        MrcFile file;
        file.mode = 2;
        change(file);
        return mrcBytes(file, samples);
    };
    const std::string good = with([](MrcFile&) {}, bytes);
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"header.mrc", good.substr(0, 1000), "shorter than its 1024-byte header"},
        {"short.mrc", good.substr(0, good.size() - 1), "the header claims 32 bytes of samples after byte 1024"},
        {"extended.mrc", with([](MrcFile& f) { f.extendedBytes = 64; }, bytes.substr(1)), "after byte 1088"},
        {"negative.mrc", with([](MrcFile& f) { f.extendedBytes = -4; }, bytes), "extended header of -4 bytes"},
        {"overflow.mrc", with([](MrcFile& f) { f.sizes[0] = f.sizes[1] = f.sizes[2] = 2000000000; }, bytes), "too large"},
        {"zero.mrc", with([](MrcFile& f) { f.sizes[1] = 0; }, bytes), "bad MRC header: sizes 2 x 0 x 2"},
        {"complex.mrc", with([](MrcFile& f) { f.mode = 4; }, bytes), "mode 4: complex samples"},
        {"mode.mrc", with([](MrcFile& f) { f.mode = 7; }, bytes), "unsupported MRC mode 7"},
        {"axes.mrc", with([](MrcFile& f) { f.axisOrder[0] = 3; f.axisOrder[2] = 1; }, bytes), "mapc, mapr, maps are 3, 2, 1"},
        {"stamp.mrc", with([](MrcFile& f) { f.stamp = std::string(2, '\0'); }, bytes), "machine stamp 0x00 0x00"},
        {"swapped.mrc", with([](MrcFile& f) { f.stamp = hostBig ? "DD" : "\x11\x11"; }, bytes), "unsupported MRC mode 33554432"},
        {"nibbles.mrc", with([](MrcFile& f) { f.mode = 101; f.sizes[0] = 3; }, std::string(3, 'x')), "claims 8 bytes"},
        {"map.mrc", good.substr(0, 208) + "PAM " + good.substr(212), "no \"MAP\" at byte 208"},
    };
    // clang-format on
    for (const auto& [name, contents, reason] : cases)
        expectFileRefused(name, contents, reason);
}
