#include "text.h"
#include "testsupport.h"

TEST(TextTest, FormatStringCutsAt1023Characters) {
    const std::string longText(2000, 'x');
    EXPECT_EQ(formatString("%s!", longText.c_str()), longText.substr(0, 1023));
}

// Text from a file must not drive the terminal it is printed on.
TEST(TextTest, PrintableTextEscapesControlCharactersOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name", "plain name"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {std::string("a\0b\n\x7f", 5), "a\\x00b\\x0a\\x7f"},
        {"caf\xc3\xa9", "caf\xc3\xa9"}, // UTF-8 stays
    };
    for (const auto& [text, printable] : cases)
        EXPECT_EQ(printableText(text), printable);
}
