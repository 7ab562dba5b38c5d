#include "helpers.h"
#include "testsupport.h"

TEST(HelpersTest, FormatStringFormatsAndCutsAt1023Characters) {
    EXPECT_EQ(formatString("input/%s.vol", "a"), "input/a.vol");
    const std::string longText(2000, 'x');
    EXPECT_EQ(formatString("%s!", longText.c_str()), longText.substr(0, 1023));
}

TEST(HelpersTest, ReadsConsecutiveLittleEndianWordsAndZeroWhenShort) {
    unsigned char bytes[] = {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                             0x80, 0x3F, 0x04, 0x03, 0x02, 0x01, 0x07, 0x07, 0x07};
    const FileHandle file(fmemopen(bytes, sizeof bytes, "rb"));
    ASSERT_TRUE(file);
    EXPECT_EQ(readInt(file.get()), 1);
    EXPECT_EQ(readInt(file.get()), -1);
    EXPECT_EQ(readFloat(file.get()), 1.0f);
    EXPECT_EQ(readInt(file.get()), 0x01020304);
    EXPECT_EQ(readInt(file.get()), 0); // three bytes left
    EXPECT_EQ(readFloat(file.get()), 0.0f);
}

// Reading a directory gives nonsense sizes, and opening a FIFO nobody writes to waits forever:
// only regular files open for reading, at once.
TEST(HelpersTest, OpensOnlyRegularFilesForReading) {
    ScratchDir dir;
    writeFile("file", "x");
    makeNotAFile("folder", NotAFile::Directory);
    makeNotAFile("fifo", NotAFile::Fifo);
    EXPECT_TRUE(openFile("file", "rb"));
    for (const char* path : {"folder", "fifo", "missing"})
        EXPECT_FALSE(openFile(path, "rb")) << path;
}
