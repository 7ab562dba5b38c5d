#include "helpers.h"

#include <gtest/gtest.h>

TEST(Helpers, FormatStringFormatsAndCutsAt1023Characters) {
    EXPECT_EQ(formatString("input/%s.vol", "a"), "input/a.vol");
    const std::string longText(2000, 'x');
    EXPECT_EQ(formatString("%s!", longText.c_str()), longText.substr(0, 1023));
}

TEST(Helpers, ReadsConsecutiveLittleEndianWordsAndZeroWhenShort) {
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
