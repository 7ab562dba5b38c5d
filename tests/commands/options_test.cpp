#include "options.h"
#include "testruns.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(OptionsTest, HelpAlignsTermsAndWrapsTheirHelp) {
    const std::string help =
        optionHelp({{"o,output", "OUT.vol", "the volume"},
                    {"crop", "", "cuts"},
                    {"raw", "W,H,D,TYPE,ENDIAN[,CHANNELS]", "a long term's help under it"},
                    {"window", "LO,HI",
                     "maps LO to 0 and HI to 255 instead of the samples' range, whatever the "
                     "type of the samples and however many channels the input has"}});
    EXPECT_EQ(help, "  -o, --output OUT.vol      the volume\n"
                    "  --crop                    cuts\n"
                    "  --raw W,H,D,TYPE,ENDIAN[,CHANNELS]\n"
                    "                            a long term's help under it\n"
                    "  --window LO,HI            maps LO to 0 and HI to 255 instead of the "
                    "samples' range, whatever the\n"
                    "                            type of the samples and however many channels "
                    "the input has\n");
}

TEST(OptionsTest, ManualAndDocsTablesNameEveryOption) {
    const std::vector<Option> options = {{"o,output", "OUT", "what to write"},
                                         {"force", "", "writes again"}};
    EXPECT_EQ(optionRoff(options), ".TP\n\\fB\\-o\\fR, \\fB\\-\\-output\\fR \\fIOUT\\fR\n"
                                   "what to write\n.TP\n\\fB\\-\\-force\\fR\nwrites again\n");
    EXPECT_EQ(optionMarkdown(options), "| option | what it does |\n|---|---|\n"
                                       "| `-o, --output OUT` | what to write |\n"
                                       "| `--force` | writes again |\n");
}

TEST(OptionsTest, SlipsOfTheKeyboardFindTheWordMeant) {
    const std::vector<std::string> words = {"size", "max-size", "spacing", "pack", "unpack", "o"};
    const std::pair<const char*, const char*> cases[] = {
        {"sise", "size"}, {"maxsize", "max-size"}, {"spacnig", "spacing"},
        {"pakc", "pack"}, {"unpakc", "unpack"},    {"p", ""},
        {"shuffle", ""},  {"windows", ""},         {"", ""},
    };
    for (const auto& [word, meant] : cases)
        EXPECT_EQ(nearestWord(word, words), meant) << word;
}

namespace {
struct Settings {
    std::string order;
};
QString readA(const QString& value, Settings* s) {
    s->order += "a" + value.toStdString();
    return QString();
}
QString readB(const QString&, Settings* s) {
    return s->order.empty() ? QString() : "b after a";
}
} // namespace

// Options are read in the table's order, whatever the command line's, so that one may check
// another; the first complaint wins.
TEST(OptionsTest, OptionsAreReadInTheTablesOrder) {
    const std::vector<OptionReader<Settings>> readers = {
        {{"a", "V", "a"}, readA}, {{"b", "", "b"}, readB}, {{"c", "", "c"}, nullptr}};
    const std::pair<QStringList, const char*> cases[] = {
        {{"t", "-a", "1"}, ""}, {{"t", "-b", "-a", "2"}, "b after a"}, {{"t", "-b", "-c"}, ""}};
    for (const auto& [arguments, usage] : cases) {
        QCommandLineParser parser;
        for (const Option& option : declarations(readers))
            parser.addOption(parserOption(option));
        ASSERT_TRUE(parser.parse(arguments));
        Settings settings;
        EXPECT_EQ(readOptions(parser, readers, &settings).toStdString(), usage)
            << arguments.join(' ').toStdString();
    }
}

// The docs' table of options is the program's own.
TEST(OptionsTest, DocsListTheOptionsTheProgramTakes) {
    const ToolRun run = runTool({"--option-table"});
    ASSERT_EQ(run.status, 0);
    QFile docs(QString::fromStdString(sourceDir() + "/docs/options.md"));
    ASSERT_TRUE(docs.open(QIODevice::ReadOnly));
    EXPECT_EQ(docs.readAll().toStdString(), run.out)
        << "run: tessary-vol --option-table > docs/options.md";
}
