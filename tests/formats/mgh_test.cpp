#include "fixturefile.h"
#include "formattable.h"
#include "mrcfiles.h"
#include "readercheck.h"
#include "formatsupport.h"

namespace {
const bool hostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The file's samples: big-endian, whatever the host.
std::string stored(SampleType type, int w, int h, int d) {
    std::string host = typedPattern(type, w, h, d, 1);
    const std::size_t bytes = sampleTypeBytes(type);
    for (std::size_t i = 0; hostLittle && i < host.size(); i += bytes)
        std::reverse(host.begin() + long(i), host.begin() + long(i + bytes));
    return host;
}
} // namespace

TEST(MghTest, EveryTypeAndFrameReadsPlainAndCompressed) {
    ScratchDir dir;
    ensureApplication();
    const std::pair<int, SampleType> types[] = {{0, SampleType::UInt8},
                                                {1, SampleType::Int32},
                                                {3, SampleType::Float32},
                                                {4, SampleType::Int16}};
    for (const auto& [code, type] : types)
        for (const char* name : {"v.mgh", "v.mgz", "v.mgh.gz"})
            for (const int frame : {-1, 0, 2}) {
                SCOPED_TRACE(testing::Message() << code << " " << name << " " << frame);
                MghFile file;
                file.type = code;
                file.dims[0] = 3;
                file.dims[3] = frame < 0 ? 1 : 3;
                file.delta[2] = 2.5;
                // Three frames of 3 x 2 x 2 as one volume of 3 x 2 x 6, with tags after them.
                const std::string all = stored(type, 3, 2, 2 * file.dims[3]);
                const bool packed = std::string(name) != "v.mgh";
                ASSERT_EQ(writeFixture(name, mghBytes(file, all) + "tags", packed), "");
                const std::string host = typedPattern(type, 3, 2, 2 * file.dims[3], 1);
                const std::size_t volume = host.size() / std::size_t(file.dims[3]);
                TypedSource source;
                EXPECT_EQ(packSamples({name}, InputSelection(-1, frame), &source),
                          host.substr(std::size_t(std::max(frame, 0)) * volume, volume));
                const std::string format =
                    std::string(packed ? "MGH (gzip)" : "MGH") +
                    (frame < 0 ? "" : ", frame " + std::to_string(frame) + " of 3");
                EXPECT_EQ(describe(source.info),
                          format + ": 3x2x2 " + sampleTypeName(type) +
                              "*1 alpha -1, spacing 1 1 2.5 known, oriented LAS from the MGH "
                              "direction cosines (x = i, y = k, z = -j)");
            }
}

TEST(MghTest, AxesComeFromTheDirectionCosinesOrFreeSurfersDefault) {
    ScratchDir dir;
    ensureApplication();
    struct Case {
        short goodRAS;
        float mdc[3][3];
        double axes[3][3];
        std::string from;
        bool spacingKnown;
    };
    const Case cases[] = {
        // An oblique sagittal file: i anterior, j inferior and a little right, k to the left.
        {1,
         {{0, 1, 0}, {0.6f, 0, -0.8f}, {-1, 0, 0}},
         {{0, 1, 0}, {0.6, 0, -0.8}, {-1, 0, 0}},
         "the MGH direction cosines",
         true},
        // No goodRASFlag: neither spacing nor directions, whatever the fields hold.
        {0,
         {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
         {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
         "FreeSurfer's default axes",
         false},
        // Cosines that span no space are no directions.
        {1,
         {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}},
         {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
         "FreeSurfer's default axes",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        MghFile file;
        file.goodRAS = c.goodRAS;
        file.delta[0] = 0.5;
        std::copy(&c.mdc[0][0], &c.mdc[0][0] + 9, &file.mdc[0][0]);
        writeFile("a.mgh", mghBytes(file, std::string(8, 'x')));
        TypedSource source;
        ASSERT_EQ(openPackInput({"a.mgh"}, {}, &source), "");
        const AxisDirections& axes = source.info.axes;
        EXPECT_EQ(axes.frame, AxisFrame::World);
        EXPECT_TRUE(axes.patient);
        EXPECT_EQ(axes.from, c.from);
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(axes.axis[k][a], c.axes[k][a], 1e-6) << k << " " << a;
        EXPECT_EQ(source.info.spacingKnown, c.spacingKnown);
        EXPECT_EQ(source.info.spacing[0], c.spacingKnown ? 0.5 : 1);
    }
}

TEST(MghTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const auto with = [](auto change, const std::string& samples) {
        MghFile file;
        file.type = 3;
        change(file);
        return mghBytes(file, samples);
    };
    const std::string good = with([](MghFile&) {}, std::string(32, 'x'));
    // clang-format off
    const std::tuple<std::string, std::string, bool, std::string> cases[] = {
        {"header.mgh", good.substr(0, 200), false, "shorter than its 284-byte header"},
        {"header.mgz", good.substr(0, 200), true, "shorter than its 284-byte header"},
        {"short.mgh", good.substr(0, good.size() - 1), false, "truncated"},
        {"frames.mgh", with([](MghFile& f) { f.dims[3] = 2; }, std::string(40, 'x')), false, "MGH file of 2 frames: pick one"},
        {"short.mgz", good.substr(0, good.size() - 1), true, "truncated"},
        {"bomb.mgz", with([](MghFile& f) { f.dims[0] = f.dims[1] = 4096; f.dims[2] = 400; }, ""), true, "bytes of gzip data can't hold"},
        {"overflow.mgh", with([](MghFile& f) { f.dims[0] = f.dims[1] = f.dims[2] = 2000000000; }, ""), false, "too large"},
        {"zero.mgh", with([](MghFile& f) { f.dims[3] = 0; }, ""), false, "bad MGH header: sizes 2 x 2 x 2, 0 frames"},
        {"type.mgh", with([](MghFile& f) { f.type = 2; }, ""), false, "unsupported MGH type 2"},
        {"version.mgh", with([](MghFile& f) { f.version = 16777216; }, ""), false, "version 16777216"},
        {"damaged.mgz", "\x1f\x8b" + std::string(300, 'x'), false, "bad compressed data"},
    };
    // clang-format on
    for (const auto& [name, contents, packed, reason] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(writeFixture(name, contents, packed), "");
        const ReaderOutcome outcome = checkReader({QString::fromStdString(name)}, {});
        EXPECT_EQ(outcome.broken, "");
        expectRefusal(outcome.refusal, name + ": ", reason);
        expectRefusal(runTool({"info", QString::fromStdString(name)}), name + ": ", reason);
    }
}
