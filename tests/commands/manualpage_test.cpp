#include "manualpage.h"

#include <gtest/gtest.h>

TEST(ManualPageTest, TextIsEscapedForRoff) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain words", "plain words"},
        {"-o, --output", "\\-o, \\-\\-output"},
        {"a\\b", "a\\eb"},
        {".tif files", "\\&.tif files"}, // a request line otherwise
        {"'quoted'", "\\&'quoted'"},     // the other control character
        {"a .b 'c", "a .b 'c"},          // only at the start of a line
        {"", ""},
    };
    for (const auto& [text, roff] : cases)
        EXPECT_EQ(roffText(text), roff) << text;
}

TEST(ManualPageTest, HelpTextBecomesParagraphsAndLists) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"prose fills one paragraph; a blank line starts the next",
         "One line\nand more.\n\nNext.\n", "One line\nand more.\n.PP\nNext.\n"},
        {"options aligned on a column become terms and descriptions, continuations joined",
         "options:\n  -o, --output OUT   the output\n  --up AXIS          the axis,\n"
         "                     y by default\n",
         "options:\n.TP\n\\fB\\-o, \\-\\-output OUT\\fR\nthe output\n"
         ".TP\n\\fB\\-\\-up AXIS\\fR\nthe axis,\ny by default\n.PP\n"},
        {"two spaces suffice when the column is shared", "  .tif  a TIFF\n  .npy  an array\n",
         ".TP\n\\fB\\&.tif\\fR\na TIFF\n.TP\n\\fB\\&.npy\\fR\nan array\n.PP\n"},
        {"a lone line of options is one item, not a term", "  --crop  --pad  --size N\n",
         ".IP \"\" 4\n\\-\\-crop  \\-\\-pad  \\-\\-size N\n.PP\n"},
        {"items without descriptions keep their continuations",
         "Reads\n  a folder of pictures, the first\n      is z = 0,\n  a TIFF.\nThen more.\n",
         "Reads\n.IP \"\" 4\na folder of pictures, the first\nis z = 0,\n.IP \"\" 4\na TIFF.\n.PP\n"
         "Then more.\n"},
        {"a wide gap makes a term alone; a blank line after the list, one paragraph break",
         "  -o OUT   the output\n\nAfter.\n", ".TP\n\\fB\\-o OUT\\fR\nthe output\n.PP\nAfter.\n"},
    };
    for (const auto& [what, help, roff] : cases)
        EXPECT_EQ(roffHelpText(help), roff) << what;
}

TEST(ManualPageTest, PageHoldsEveryCommandUnderItsUsage) {
    const std::vector<Command> commands = {
        {"pack",
         "pack IN -o OUT.vol",
         "makes a volume",
         "usage: tessary-vol pack IN -o OUT.vol\nPacks.\n",
         {}},
        {"odd", "odd", "has no usage line", "Just text.\n", {}},
    };
    const std::string page = manualPage(commands);
    for (const char* roff : {".SH NAME\ntessary\\-vol \\- brings",
                             "\\fBtessary\\-vol pack IN \\-o OUT.vol\\fR\n", // the synopsis
                             ".TP\n\\fBpack IN \\-o OUT.vol\\fR\nmakes a volume\n",
                             ".SS pack\n\\fBtessary\\-vol pack\\fR IN \\-o OUT.vol\n.PP\nPacks.\n",
                             ".SS odd\nJust text.\n", ".SH \"EXIT STATUS\"\n.TP\n\\fB0\\fR\ndone\n",
                             ".SH \"SEE ALSO\"\n\\fBtessary\\fR(1)\n"})
        EXPECT_NE(page.find(roff), std::string::npos) << roff << "\n---\n" << page;
}
