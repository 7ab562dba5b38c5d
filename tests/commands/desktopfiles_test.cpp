#include "desktopfiles.h"

#include <gtest/gtest.h>

namespace {
bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
} // namespace

// The launcher's help declares its options; any other line is left alone.
TEST(DesktopFilesTest, LauncherOptionsComeFromItsHelp) {
    const std::tuple<const char*, std::vector<std::string>, bool> cases[] = {
        {"  --size N    packs to N samples a side", {"--size"}, true},
        {"  -h, --help  prints this help", {"-h", "--help"}, false},
        {"  --crop      packs the centred cube", {"--crop"}, false},
        {"  --where", {"--where"}, false},
        {"usage: tessary [OPTIONS] [FILE | FOLDER | URL]...", {}, false},
        {"Other options go to the viewer, which takes Qt's own (such as -platform).", {}, false},
        {"  -platform offscreen", {}, false}, // an example, not an option of the launcher
        {"  --size N", {"--size"}, true},
        {"    --deeper    a continuation", {}, false},
    };
    for (const auto& [line, names, value] : cases) {
        const std::vector<LauncherOption> options = launcherOptions(std::string(line) + "\n");
        ASSERT_EQ(options.size(), names.empty() ? 0u : 1u) << line;
        if (!names.empty()) {
            EXPECT_EQ(options[0].names, names) << line;
            EXPECT_EQ(options[0].takesValue, value) << line;
        }
    }
}

// The package's own types come with their globs and the volume's magic; the database's own
// are only listed.
TEST(DesktopFilesTest, MimeInfoDefinesOnlyThePackagesTypes) {
    const std::string xml = mimeInfo();
    for (const char* part :
         {"<mime-type type=\"application/x-tessary-volume\">\n    <comment>Tessary volume",
          "<match type=\"string\" offset=\"0\" value=\"VOLU\"/>", "<glob pattern=\"*.vol\"/>",
          "<glob pattern=\"*.nii.gz\"/>", "<sub-class-of type=\"application/x-hdf\"/>"})
        EXPECT_TRUE(contains(xml, part)) << part << "\n" << xml;
    for (const char* part : {"\"image/tiff\"", "\"application/dicom\"", "\"application/x-hdf\">"})
        EXPECT_FALSE(contains(xml, part)) << part;
    const std::string list = mimeTypeList();
    for (const char* line : {"image/tiff tif tiff\n", "application/x-tessary-volume vol\n",
                             "application/x-nifti nii nii.gz\n"})
        EXPECT_TRUE(contains(list, line)) << line << "\n" << list;
}

// Each command gets its branch with its options; a value named OUT or PICTURE is a file.
TEST(DesktopFilesTest, CompletionHasEveryCommandAndTheLaunchersOptions) {
    const std::vector<Command> commands = {
        {"pack",
         "pack IN -o OUT.vol",
         "packs",
         "usage\n",
         {{"o,output", "OUT.vol", "out"}, {"size", "N", "size"}, {"crop", "", "crop"}},
         1,
         -1,
         nullptr,
         InputKind::PackInputs},
        {"check", "check FILE.vol", "checks", "usage\n", {}, 1, -1, nullptr, InputKind::Volumes},
    };
    const std::string script =
        bashCompletion(commands, {{{"--size"}, true}, {{"-h", "--help"}, false}});
    for (const char* part :
         {"_tessary_add -W 'pack check -h --help --version'",
          "    pack)\n        _tessary_arguments '-o --output --size --crop -h "
          "--help' '-o --output' '--size' inputs\n",
          "    check)\n        _tessary_arguments '-h --help' '' '' volumes\n",
          "_tessary_arguments '--size -h --help' '' '--size' inputs",
          "complete -F _tessary_vol tessary-vol\n", "complete -F _tessary tessary\n"})
        EXPECT_TRUE(contains(script, part)) << part << "\n" << script;
}
