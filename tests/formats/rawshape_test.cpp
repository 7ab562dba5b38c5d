#include "formattable.h"
#include "readercheck.h"
#include "scratchdir.h"
#include "formatsupport.h"

namespace {
const bool hostBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

InputSelection rawSelection(const std::string& shape, std::uint64_t offset = 0) {
    InputSelection selection;
    selection.raw.offset = offset;
    EXPECT_TRUE(parseRawShape(shape, &selection.raw)) << shape;
    return selection;
}
} // namespace

TEST(RawShapeTest, ShapesReadOrAreRefused) {
    struct Case {
        std::string text;
        bool good;
        int sizes[3];
        SampleType type;
        bool big;
        int channels;
    };
    const Case cases[] = {
        {"4,3,2,uint16,be", true, {4, 3, 2}, SampleType::UInt16, true, 1},
        {"1,1,1,float64,le,3", true, {1, 1, 1}, SampleType::Float64, false, 3},
        {"256,256,100,int8,le,1", true, {256, 256, 100}, SampleType::Int8, false, 1},
        {"4,3,2,uint16", false, {}, SampleType::UInt8, false, 1},
        {"4,3,2,uint16,be,2,1", false, {}, SampleType::UInt8, false, 1},
        {"4,3,0,uint16,be", false, {}, SampleType::UInt8, false, 1},
        {"4,-3,2,uint16,be", false, {}, SampleType::UInt8, false, 1},
        {"4,3,2,uint12,be", false, {}, SampleType::UInt8, false, 1},
        {"4,3,2,uint16,BE", false, {}, SampleType::UInt8, false, 1},
        {"4,3,2,uint16,le,0", false, {}, SampleType::UInt8, false, 1},
        {"1e3,3,2,uint16,le", false, {}, SampleType::UInt8, false, 1},
        {"9999999999,3,2,uint16,le", false, {}, SampleType::UInt8, false, 1},
        {"", false, {}, SampleType::UInt8, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RawShape shape;
        shape.offset = 7;
        EXPECT_EQ(parseRawShape(c.text, &shape), c.good);
        EXPECT_EQ(shape.given, c.good);
        if (!c.good)
            continue;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(shape.sizes[k], c.sizes[k]);
        EXPECT_EQ(shape.type, c.type);
        EXPECT_EQ(shape.bigEndian, c.big);
        EXPECT_EQ(shape.channels, c.channels);
        EXPECT_EQ(shape.offset, 7u); // --offset is its own option
    }
}

TEST(RawShapeTest, EveryTypeReadsInEitherOrderAfterAnyOffset) {
    ScratchDir dir;
    ensureApplication();
    const SampleType types[] = {SampleType::UInt8,   SampleType::Int8,   SampleType::UInt16,
                                SampleType::Int16,   SampleType::UInt32, SampleType::Int32,
                                SampleType::Float32, SampleType::Float64};
    struct Layout {
        std::uint64_t offset;
        std::size_t trailing;
        int channels;
    };
    const Layout layouts[] = {{0, 0, 1}, {512, 0, 1}, {3, 5, 2}, {0, 1, 3}};
    for (const SampleType type : types)
        for (const bool big : {false, true})
            for (const Layout& layout : layouts) {
                const std::string name = sampleTypeName(type);
                SCOPED_TRACE(testing::Message()
                             << name << (big ? " be" : " le") << " offset " << layout.offset
                             << " trailing " << layout.trailing << " channels " << layout.channels);
                const std::string samples = typedPattern(type, 3, 2, 4, layout.channels);
                // The pattern in host order, its file in the order stated.
                std::string stored = samples;
                const std::size_t bytes = sampleTypeBytes(type);
                if (big != hostBig)
                    for (std::size_t i = 0; i < stored.size(); i += bytes)
                        std::reverse(stored.begin() + long(i), stored.begin() + long(i + bytes));
                writeFile("scan.dat", std::string(std::size_t(layout.offset), 'h') + stored +
                                          std::string(layout.trailing, 't'));
                const std::string shape =
                    "3,2,4," + name + (big ? ",be," : ",le,") + std::to_string(layout.channels);
                TypedSource source;
                EXPECT_EQ(packSamples({"scan.dat"}, rawSelection(shape, layout.offset), &source),
                          samples);
                EXPECT_EQ(describe(source.info),
                          "raw samples: 3x2x4 " + name + "*" + std::to_string(layout.channels) +
                              " alpha -1, spacing 1 1 1 unknown, rows top-down, as pictures");
                EXPECT_EQ(source.info.note, layout.trailing
                                                ? std::to_string(layout.trailing) +
                                                      " bytes after the samples left out"
                                                : "");
            }
}

TEST(RawShapeTest, TheShapeTakesTheFileWhateverItsName) {
    ScratchDir dir;
    ensureApplication();
    // 3 * 2^3 bytes: raw RGB by its name alone, bare samples of the shape given with --raw.
    const std::string bytes = typedPattern(SampleType::UInt8, 2, 2, 2, 3);
    writeFile("v.raw", bytes);
    writeFile("v.nii", bytes);
    EXPECT_EQ(inputFormatOf({"v.raw"})->name, std::string("raw RGB bytes"));
    for (const QString path : {"v.raw", "v.nii"}) {
        SCOPED_TRACE(path.toStdString());
        const InputSelection selection = rawSelection("3,2,2,uint16,le");
        EXPECT_EQ(inputFormatOf({path}, selection)->name, std::string("raw samples (--raw)"));
        TypedSource source;
        EXPECT_EQ(packSamples({path}, selection, &source), bytes);
    }
    const ToolRun run = runTool({"pack", "v.raw", "--raw", "2,2,2,uint8,le,3", "-o", "v.vol"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("rows top-down"), std::string::npos) << run.out;
    const ToolRun info = runTool({"info", "v.nii", "--raw", "2,2,2,uint8,le", "--offset", "8"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("raw samples"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("8 bytes after the samples left out"), std::string::npos) << info.out;
}

TEST(RawShapeTest, BrokenShapesAndShortFilesAreRefusedInOneLine) {
    ScratchDir dir;
    ensureApplication();
    writeFile("short.bin", std::string(23, 'x'));
    writeFile("d/a.bin", "x");
    writeFile("d/b.bin", "x");
    makeNotAFile("fifo.bin", NotAFile::Fifo);
    // clang-format off
    // The input, --raw and --offset, and the reason.
    const std::tuple<QStringList, std::string, std::uint64_t, std::string> cases[] = {
        {{"short.bin"}, "2,3,2,uint16,le", 0, "holds 23 bytes: --raw 2 x 3 x 2 uint16 needs 24 bytes after --offset 0, 24 in all; check the shape and offset"},
        {{"short.bin"}, "2,2,2,uint8,le,3", 0, "needs 24 bytes after --offset 0"},
        {{"short.bin"}, "2,2,2,uint8,le", 16, "holds 23 bytes: --raw 2 x 2 x 2 uint8 needs 8 bytes after --offset 16, 24 in all"},
        {{"short.bin"}, "1,1,1,uint8,le", 9223372036854775807ULL, "too large"},
        {{"short.bin"}, "65536,65536,65536,float64,le", 0, "too large"},
        {{"short.bin"}, "100000,100000,100000,float64,le,4", 0, "too large"},
        {{"d"}, "1,1,1,uint8,le", 0, "--raw reads the samples of one file"},
        {{"d/a.bin", "d/b.bin"}, "1,1,1,uint8,le", 0, "--raw reads the samples of one file"},
        {{"fifo.bin"}, "1,1,1,uint8,le", 0, "can't open"},
        {{"missing.bin"}, "1,1,1,uint8,le", 0, "can't open"},
    };
    // clang-format on
    for (const auto& [paths, shape, offset, reason] : cases) {
        SCOPED_TRACE(shape + " " + paths.join(" ").toStdString());
        const InputSelection selection = rawSelection(shape, offset);
        const ReaderOutcome outcome = checkReader(paths, selection);
        EXPECT_EQ(outcome.broken, "");
        expectRefusal(outcome.refusal, paths[0].toStdString() + ": ", reason);
    }
    // Options that state no shape.
    const std::pair<QStringList, std::string> usages[] = {
        {{"--raw", "2,2,2"}, "--raw takes W,H,D,TYPE,ENDIAN[,CHANNELS]"},
        {{"--raw", "2,2,2,uint8,middle"}, "ENDIAN le or be"},
        {{"--offset", "16"}, "--offset takes the bytes before the first sample, with --raw"},
        {{"--raw", "2,2,2,uint8,le", "--offset", "-1"}, "--offset takes"},
        {{"--raw", "2,2,2,uint8,le", "--offset", "lots"}, "--offset takes"},
    };
    for (const auto& [options, reason] : usages) {
        SCOPED_TRACE(options.join(" ").toStdString());
        const ToolRun run = runTool(QStringList{"pack", "short.bin", "-o", "v.vol"} + options);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
}
