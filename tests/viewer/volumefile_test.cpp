#include "testsupport.h"
#include "volumefile.h"

#include <climits>

namespace {
std::string parse(const std::vector<unsigned char>& bytes, VolumeHeader* header) {
    return parseVolumeHeader(bytes.data(), bytes.size(), header);
}
} // namespace

TEST(VolumeFileTest, HeaderChecksComeInOrderAndReportTheFirstFault) {
    std::vector<unsigned char> badMagic = volumeFile(0, "", {}, 5, 4, 2);
    badMagic[0] = 'x';
    const std::string size = "bad header: invalid size";
    const std::pair<std::vector<unsigned char>, std::string> cases[] = {
        {badMagic, "bad header: invalid magic"},
        {{'V', 'O', 'L', 'U', 4}, "bad header: invalid magic"}, // shorter than the header
        {volumeFile(0, "", {}, 5, 4, 2), "bad header: version != 4"},
        {volumeFile(0, "", {}, 4, 4, 2), "bad header: only RGB textures supported"},
        {volumeFile(0, "", {}, 4, 3, 2), "bad header: only byte textures supported"},
        {volumeFile(0, "", {}), size},
        {volumeFile(-5, "", {}), size},
        {volumeFile(INT_MAX, "", {}), size}, // 3 * N^3 would not fit a byte count
    };
    VolumeHeader header;
    for (const auto& [bytes, message] : cases)
        EXPECT_EQ(parse(bytes, &header), message);
}

TEST(VolumeFileTest, ANameWithoutNulEndsAtTheFieldsEnd) {
    std::vector<unsigned char> full = volumeFile(7, "", {});
    std::fill_n(full.begin() + volumeLayout::nameOffset, volumeLayout::nameLength, 'n');
    VolumeHeader header;
    ASSERT_EQ(parse(full, &header), "");
    EXPECT_EQ(header.name, std::string(volumeLayout::nameLength, 'n'));
    EXPECT_EQ(header.size, 7);
}

TEST(VolumeFileTest, SamplesAreCheckedAgainstTheFileAndTheMemoryBeforeTheRead) {
    std::vector<unsigned char> samples(24);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<unsigned char>(i * 11);
    const auto read = [&](std::size_t bytes, std::int64_t memory, auto* loaded) {
        const std::vector<unsigned char> head(samples.begin(), samples.begin() + bytes);
        return readVolumeSamples(streamOf(head).get(), 2, loaded, memory);
    };
    std::unique_ptr<unsigned char[]> loaded(new unsigned char[1]);
    EXPECT_EQ(read(23, -1, &loaded), "file too short: truncated samples");
    EXPECT_EQ(read(24, 23, &loaded), "out of memory: volume too large");
    EXPECT_FALSE(loaded); // the previous samples were let go to make room
    ASSERT_EQ(read(24, 24, &loaded), "");
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), loaded.get()));
}

// The one ordered check the viewer and the converter share: each stage is reached only when the
// ones before it passed, and the GL step (the viewer's) sits between the header and the length.
// (Folders and FIFOs are openFile's to refuse: its own test has them.)
TEST(VolumeFileTest, FileChecksComeInTheViewersOrder) {
    ScratchDir dir;
    writeFile("good.vol", volumeFile(2, "", samplePattern(2)));
    writeFile("short.vol", volumeFile(2, "", std::vector<unsigned char>(23)));
    writeFile("version.vol", volumeFile(2, "", samplePattern(2), 3));
    const std::string refused = "refused by the GL";
    const struct {
        const char* path;
        bool glRefuses;
        std::int64_t memory;
        std::string message;
        bool glAsked;
    } cases[] = {
        {"missing.vol", true, -1, inputMessages::cantOpen, false},
        {"version.vol", true, -1, volumeMessages::badVersion, false},
        {"short.vol", true, 0, refused, true},
        {"short.vol", false, 0, volumeMessages::truncated, true},
        {"good.vol", false, 23, volumeMessages::outOfMemory, true},
        {"good.vol", false, 24, "", true},
        {"good.vol", false, -1, "", true}, // memory unknown: not refused
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        bool asked = false;
        const VolumeGlStep gl = [&](std::int32_t n) {
            asked = true;
            EXPECT_EQ(n, 2);
            return c.glRefuses ? refused : std::string();
        };
        FileHandle file;
        VolumeHeader header;
        EXPECT_EQ(checkVolumeFile(c.path, gl, c.memory, &file, &header), c.message);
        EXPECT_EQ(asked, c.glAsked);
        if (c.message.empty()) { // left at the samples
            EXPECT_EQ(remainingBytes(file.get()), 24);
        }
    }
}

TEST(VolumeFileTest, PictureNamesStayInsideTheFolder) {
    for (const char* name : {"marble", "sub/marble", "..marble", "a..b/c", "", "./x"})
        EXPECT_TRUE(isSafePictureName(name)) << name;
    for (const char* name : {"/etc/passwd", "..", "../secret", "sub/../../x", "a/.."})
        EXPECT_FALSE(isSafePictureName(name)) << name;
}
