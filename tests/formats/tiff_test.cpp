#include "formatsupport.h"
#include "tifffiles.h"

#include <QFile>

namespace {
constexpr int fullWidth = 16, fullHeight = 12, depth = 12;

// Sample (x, y) of slice z on level l: every sample tells where it lies.
double sampleAt(int l, int x, int y, int z) {
    return l * 10000 + z * 1000 + y * 16 + x;
}

std::string levelSamples(int l, int width, int height, int z0, int z1) {
    std::vector<double> values;
    for (int z = z0; z < z1; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                values.push_back(sampleAt(l, x, y, z));
    return typedBytes(SampleType::UInt16, values);
}

TiffPage levelPage(int l, int z, int width, int height) {
    TiffPage page;
    page.width = width;
    page.height = height;
    page.bits = 16;
    page.samples = levelSamples(l, width, height, z, z + 1);
    return page;
}

// The stack, each page with its halved and quartered resolutions.
std::vector<TiffPage> pyramid(bool inChain) {
    std::vector<TiffPage> pages;
    for (int z = 0; z < depth; ++z) {
        TiffPage page = levelPage(0, z, fullWidth, fullHeight);
        page.reduced = {levelPage(1, z, fullWidth / 2, fullHeight / 2),
                        levelPage(2, z, fullWidth / 4, fullHeight / 4)};
        page.reducedInChain = inChain;
        pages.push_back(page);
    }
    return pages;
}
} // namespace

TEST(TiffPyramidTest, SizePicksTheCoarsestLevelWithEnoughSamples) {
    ScratchDir dir;
    ensureApplication();
    EXPECT_EQ(writeTiff("subifds.tif", pyramid(false)), "");
    EXPECT_EQ(writeTiff("chain.tif", pyramid(true), true), "");
    // x and y halve from level to level, the slices stay: level 1 has 6 samples along its
    // shortest reduced side, level 2 has 3.
    const std::pair<int, int> cases[] = {{0, 0}, {12, 0}, {7, 0}, {6, 1}, {4, 1}, {3, 2}, {1, 2}};
    for (const char* file : {"subifds.tif", "chain.tif"})
        for (const auto& [size, level] : cases) {
            SCOPED_TRACE(testing::Message() << file << " --size " << size);
            InputSelection selection;
            selection.size = size;
            TypedSource source;
            const int width = fullWidth >> level, height = fullHeight >> level;
            EXPECT_EQ(packSamples({file}, selection, &source),
                      levelSamples(level, width, height, 0, depth));
            const VolumeInfo& info = source.info;
            EXPECT_EQ(info.level, level);
            ASSERT_EQ(info.levels.size(), 3u);
            EXPECT_EQ(info.levels[2].name, file[0] == 's' ? "SubIFD 2" : "reduced 2");
            EXPECT_EQ(std::vector<int>({info.width, info.height, info.depth}),
                      std::vector<int>({width, height, depth}));
            EXPECT_EQ(info.spacing[0], double(1 << level));
            EXPECT_EQ(info.spacing[2], 1.0);
            EXPECT_EQ(info.note, "");
        }
}

TEST(TiffPyramidTest, InfoListsTheLevels) {
    ScratchDir dir;
    ensureApplication();
    EXPECT_EQ(writeTiff("p.tif", pyramid(false)), "");
    const ToolRun all = runTool({"info", "p.tif", "--pad"});
    const ToolRun sized = runTool({"info", "p.tif", "--size", "6", "--pad"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(sized.status, 0) << sized.err;
    for (const char* line :
         {"level 0          full: 16 x 12 x 12, spacing 1, 1, 1  (pack reads it)",
          "level 1          SubIFD 1: 8 x 6 x 12, spacing 2, 2, 1  (--size 6 "
          "reads it)",
          "level 2          SubIFD 2: 4 x 3 x 12, spacing 4, 4, 1  (--size 3 "
          "reads it)"})
        EXPECT_NE(all.out.find(line), std::string::npos) << line << "\n" << all.out;
    for (const char* line :
         {"SubIFD 1: 8 x 6 x 12, spacing 2, 2, 1  (pack reads it)",
          "pyramid level 1 (\"SubIFD 1\") of 3, spacing from the levels' shapes"})
        EXPECT_NE(sized.out.find(line), std::string::npos) << line << "\n" << sized.out;
}

// Reduced resolutions that do not agree with the stack leave the full resolution read and
// a note of why, or, where a later page's only shows when read, a refusal naming it.
TEST(TiffPyramidTest, LevelsThatDisagreeAreLeftOutOrRefused) {
    ScratchDir dir;
    ensureApplication();
    std::vector<TiffPage> byte = pyramid(false), larger = byte, counts = byte, later = byte,
                          fewer = pyramid(true);
    byte[0].reduced[0].bits = 8;
    byte[0].reduced[0].samples.resize(8 * 6);
    larger[0].reduced[0] = levelPage(1, 0, 32, 12);
    counts[1].reduced.pop_back();
    later[3].reduced[0] = levelPage(1, 3, 7, 6);
    for (std::size_t z = 1; z < fewer.size(); ++z)
        fewer[z].reduced.clear();
    struct Case {
        const char* file;
        std::vector<TiffPage> pages;
        std::string note, refusal; // the note with the full resolution read, or the refusal
    };
    const std::string left = "left out the reduced resolutions (SubIFDs), which disagree: ";
    const Case cases[] = {
        {"byte.tif", byte, left + "SubIFD 1 holds 1 uint8 channel(s), the full 1 uint16", ""},
        {"larger.tif", larger, left + "SubIFD 1 of 32 x 12 is larger than the full of 16 x 12", ""},
        {"counts.tif", counts, left + "page 2 has 1 SubIFDs, page 1 2", ""},
        {"fewer.tif", fewer,
         "left out the reduced resolutions (reduced pages), which disagree: 1 reduced pages of "
         "8 x 6 for the 12 pages of the stack",
         ""},
        {"later.tif", later, "", "page 4, SubIFD 1: 7 x 6 samples of 1 uint16 channel(s) differ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(writeTiff(c.file, c.pages), "");
        InputSelection selection;
        selection.size = 6;
        TypedSource source;
        const std::string read = packSamples({c.file}, selection, &source);
        if (!c.refusal.empty()) {
            expectRefusal(read, std::string(c.file) + ": ", c.refusal);
            continue;
        }
        EXPECT_EQ(read, levelSamples(0, fullWidth, fullHeight, 0, depth));
        EXPECT_EQ(source.info.note, c.note);
        EXPECT_EQ(source.info.level, -1);
    }
}
