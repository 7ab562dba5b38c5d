#include "files.h"
#include "demovolumes.h"
#include "arrayfiles.h"
#include "testruns.h"
#include "volumefile.h"

#include <QImage>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace {
// What a folder holds, hidden entries included, each file with its bytes; a file alone as "".
std::map<QString, std::string> tree(const QString& path) {
    std::map<QString, std::string> entries;
    if (QFileInfo(path).isFile())
        entries[""] = fileBytes(path);
    const QDir dir(path);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        entries[name] =
            QFileInfo(dir.filePath(name)).isDir() ? "folder" : fileBytes(dir.filePath(name));
    return entries;
}

class PackTest : public testing::Test {
    ScratchDir dir;
};
} // namespace

TEST_F(PackTest, EveryOutputKindComesBackByteForByte) {
    const int n = 5; // rows of 15 bytes: no alignment hides a slip
    writeFile("in.vol", volumeFile(n, "in", samplePattern(n)));
    for (const QString out : {"slices", "out.tif", "out.nrrd", "out.npy"}) {
        SCOPED_TRACE(out.toStdString());
        ASSERT_EQ(runTool({"unpack", "in.vol", "-o", out}).status, 0);
        ASSERT_EQ(runTool({"pack", out, "-o", "back.vol", "--name", "in"}).status, 0);
        EXPECT_EQ(fileBytes("back.vol"), fileBytes("in.vol"));
        ASSERT_EQ(runTool({"unpack", "back.vol", "-o", "again_" + out}).status, 0);
        EXPECT_EQ(tree("again_" + out), tree(out));
    }
}

// --flip mirrors exactly what pack makes without it, the spare sample of a pad included, and
// the closing line says so.
TEST_F(PackTest, FlipMirrorsThePackedVolume) {
    std::string samples;
    for (int i = 0; i < 3 * 2 * 2; ++i)
        samples += char(10 + i);
    writeFile("in.raw", samples);
    const QStringList shape = {"--raw", "3,2,2,uint8,le", "--pad"};
    ASSERT_EQ(runTool(QStringList{"pack", "in.raw", "-o", "plain.vol"} + shape).status, 0);
    const ToolRun flipped =
        runTool(QStringList{"pack", "in.raw", "-o", "flipped.vol", "--flip", "z,x"} + shape);
    ASSERT_EQ(flipped.status, 0) << flipped.err;
    EXPECT_NE(flipped.out.find(", flipped along x, flipped along z: N = 3"), std::string::npos)
        << flipped.out;
    const std::vector<unsigned char> plain = loadedSamples("plain.vol"),
                                     mirrored = loadedSamples("flipped.vol");
    ASSERT_EQ(plain.size(), 3u * 27);
    ASSERT_EQ(mirrored.size(), plain.size());
    for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(mirrored[std::size_t(3 * (x + 3 * (y + 3 * z)))],
                          plain[std::size_t(3 * ((2 - x) + 3 * (y + 3 * (2 - z))))])
                    << x << " " << y << " " << z;
}

// Slices are written fast but still compressed: a flat slice stored without compression
// (QImageWriter's scale is 0 to 100; 0 to 9 all store) would take 3 * 64^2 bytes.
TEST_F(PackTest, UnpackedSlicesAreCompressed) {
    writeFile("flat.vol", volumeFile(64, "flat", std::vector<unsigned char>(3 * 64 * 64 * 64, 9)));
    ASSERT_EQ(runTool({"unpack", "flat.vol", "-o", "slices"}).status, 0);
    const QFileInfoList files = QDir("slices").entryInfoList(QDir::Files);
    ASSERT_EQ(files.size(), 64);
    for (const QFileInfo& file : files)
        EXPECT_LT(file.size(), 1000) << file.fileName().toStdString();
}

TEST_F(PackTest, InputsOfEveryKindBecomeRgb) {
    // A 2^3 grey volume whose sample (x, y, z) is 10 + x + 2y + 4z, in each input kind; files
    // placed nowhere store the top row (y = 1) first, as pictures do. 8-bit samples pack as they
    // are; others are stretched from their smallest to their largest value. Two channels that
    // no file marks as alpha fill red and green.
    std::string greyAlpha;
    std::vector<unsigned char> exact, stretched, redGreen;
    for (int i = 0; i < 8; ++i) {
        const unsigned char v = static_cast<unsigned char>(10 + i);
        greyAlpha += std::string{char(10 + (i ^ 2)), char(99)}; // rows swapped: top first
        exact.insert(exact.end(), 3, v);
        stretched.insert(stretched.end(), 3,
                         static_cast<unsigned char>(std::lround(i * 255 / 7.0)));
        redGreen.insert(redGreen.end(), {v, 99, 0});
    }
    const auto slices = [](QImage::Format format, int scale) {
        for (int z = 0; z < 2; ++z) {
            QImage image(2, 2, format);
            for (int y = 0; y < 2; ++y) // the top row is y = 1
                for (int x = 0; x < 2; ++x) {
                    const int v = (10 + x + 2 * y + 4 * z) * scale;
                    image.setPixelColor(x, 1 - y, QColor::fromRgba64(v, v, v, 0));
                }
            // Natural order: slice9 before slice10.
            ASSERT_TRUE(image.save(QString("s/slice%1.png").arg(9 + z)));
        }
    };
    // Crop and pad centre the input (padded, a column in a 3^3 cube); the picture options write
    // NAME.png beside the volume.
    std::vector<unsigned char> padded(81, 0);
    for (int z = 0; z < 3; ++z)
        std::fill_n(&padded[std::size_t(3 * (4 + 9 * z))], 3, z + 1);
    const std::string nrrd = "NRRD0004\ntype: uchar\ndimension: 4\nsizes: 2 2 2 2\nencoding: ";
    const std::string tall = "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1 1 3\nencoding: raw\n\n";
    // clang-format off
    const std::tuple<const char*, std::function<void()>, QStringList, std::vector<unsigned char>> cases[] = {
        {"grey PNG slices", [&] { slices(QImage::Format_Grayscale8, 257); }, {"s"}, exact},
        {"16-bit RGBA PNG slices", [&] { slices(QImage::Format_RGBA64, 257); }, {"s"}, stretched},
        {"two-channel gzip NRRD", [&] { writeFile("v.nrrd", nrrd + "gzip\n\n" + gzip(greyAlpha)); },
         {"v.nrrd"}, redGreen},
        {"cropped", [&] { writeFile("tall.nrrd", tall + "\1\2\3"); },
         {"tall.nrrd", "--crop", "--reference-slice", "0", "--name", "pic"}, {2, 2, 2}},
        {"padded", [] {}, {"tall.nrrd", "--pad", "--reference", "pic.png"}, padded},
    };
    // clang-format on
    for (const auto& [what, write, arguments, expected] : cases) {
        SCOPED_TRACE(what);
        QDir("s").removeRecursively();
        QDir().mkdir("s");
        write();
        const ToolRun run = runTool(QStringList{"pack"} + arguments + QStringList{"-o", "v.vol"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(loadedSamples("v.vol"), expected);
    }
    EXPECT_EQ(QImage("pic.png").pixel(0, 0), qRgb(2, 2, 2));
    EXPECT_EQ(fileBytes("v.png"), fileBytes("pic.png"));
}

TEST_F(PackTest, RefusalsSayWhatIsWrongAndLeaveNothing) {
    const std::string png22 = pngBytes(QImage(2, 2, QImage::Format_RGB888));
    const auto vol = [](int n, int version) {
        const std::vector<unsigned char> bytes = volumeFile(n, "", {1, 2, 3}, version);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string nrrd = "NRRD0004\ndimension: 3\nsizes: 2 2 2\nendian: little\n";
    // A Collada node that instances itself: Assimp recurses until the stack runs out.
    const std::string selfInstancing =
        R"(<?xml version="1.0"?><COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" )"
        R"(version="1.4.1"><library_nodes><node id="a"><instance_node url="#a"/></node>)"
        R"(</library_nodes><library_visual_scenes><visual_scene id="s"><node id="r"><instance_node )"
        R"(url="#a"/></node></visual_scene></library_visual_scenes><scene><instance_visual_scene )"
        R"(url="#s"/></scene></COLLADA>)";
    // One polygon of 30,000 corners: Assimp takes seconds to triangulate it.
    std::string polygon, face = "f";
    for (int i = 0; i < 30000; ++i) {
        polygon += formatString("v %f %f 0\n", std::cos(i * 2e-4), std::sin(i * 2e-4));
        face += formatString(" %d", i + 1);
    }
    polygon += face + "\n";
    // The files each case writes under s/ (or elsewhere), the arguments, the status, the message.
    using Files = std::vector<std::pair<std::string, std::string>>;
    // clang-format off
    const std::tuple<Files, QStringList, int, std::string> cases[] = {
        {{{"s/1.png", png22}, {"s/2.png", png22}, {"s/3.png", png22}},
         {"pack", "s", "-o", "o.vol"}, 1, "s: not a cube: 2 x 2 x 3 samples"},
        {{{"s/x.nrrd", nrrd + "type: int64\nencoding: raw\n\n" + std::string(64, '0')}},
         {"pack", "s/x.nrrd", "-o", "o.vol"}, 1, "unsupported NRRD type 'long long int'"},
        // A damaged PNG: one line, whatever libpng prints of it.
        {{{"s/1.png", png22}, {"s/2.png", png22.substr(0, png22.size() - 20) + std::string(20, 'z')}},
         {"pack", "s", "-o", "o.vol"}, 1, "s/2.png: can't read picture"},
        {{{"s/self.dae", selfInstancing}}, {"mesh", "s/self.dae", "-o", "o.dat"}, 1,
         "s/self.dae: the model importer crashed"},
        {{{"s/big.obj", polygon}}, {"mesh", "s/big.obj", "-o", "o.dat", "--timeout", "1"}, 1,
         "s/big.obj: the model importer took more than 1 s"},
#ifndef __SANITIZE_ADDRESS__ // the sanitizers' shadow memory leaves no address-space limit
        {{{"s/big.obj", polygon}}, {"mesh", "s/big.obj", "-o", "o.dat", "--memory-limit", "1"},
         1, "s/big.obj: needs more than 1 MB"},
#endif
        {{}, {"mesh", "s/h.ply", "-o", "o.dat", "--up", "w"}, 2, "--up takes x, y, z"},
        {{{"s/in.vol", vol(1, 4)}, {"out/keep", "mine"}}, {"unpack", "s/in.vol", "-o", "out"}, 1,
         "out: can't write: exists and is not an empty folder"},
        {{{"s/in.vol", vol(2, 4)}}, {"unpack", "s/in.vol", "-o", "o.npy"}, 1,
         "s/in.vol: file too short: truncated samples"},
        {{{"s/in.vol", vol(1, 3)}}, {"check", "s/in.vol"}, 1, "s/in.vol: bad header: version != 4"},
        {{{"s/t.nrrd", nrrd + "type: uchar\nencoding: gzip\n\n" +
                           gzip(std::string(8, 'x')).substr(0, 12)}},
         {"pack", "s/t.nrrd", "-o", "o.vol"}, 1,
         "s/t.nrrd: file too short or damaged: truncated gzip samples"},
        {{}, {"pack", "s"}, 2, "-o OUT.vol is required"},
        {{}, {"pack", "s", "-o", "o.vol", "--crop", "--pad"}, 2, "exclude each other"},
        {{}, {"pack", "s", "-o", "o.vol", "--pad", "--crop"}, 2, "exclude each other"},
        {{}, {"pack", "s", "-o", "o.vol", "--reference-slice", "0", "--reference", "p.png"}, 2,
         "--reference and --reference-slice exclude each other"},
        {{}, {"pack", "s", "-o", "o.vol", "--flip", "w"}, 2, "--flip takes x, y or z"},
        {{}, {"pack", "s", "-o", "o.vol", "--flip", "x,x"}, 2, "--flip takes x, y or z"},
        {{}, {"pack", "s", "-o", "o.vol", "--sise", "4"}, 2,
         "tessary-vol pack: unknown option --sise (did you mean --size?)"},
        {{}, {"pack", "s", "-o", "o.vol", "--shuffle"}, 2,
         "tessary-vol pack: unknown option --shuffle\n"},
        // Options of another command are unknown here, not ignored.
        {{}, {"info", "s", "--reference-slice", "0"}, 2,
         "tessary-vol info: unknown option --reference-slice\n"},
        {{}, {"pakc", "s"}, 2, "tessary-vol: unknown command 'pakc' (did you mean pack?)"},
        {{}, {"pack", "s", "-o", "o.vol", "--window", "5,1"}, 2, "--window takes LO,HI"},
        {{}, {"pack", "s", "-o", "o.vol", "--channels", "0,1"}, 2, "--channels takes A,B,C"},
        {{}, {"pack", "s", "-o", "o.vol", "--spacing", "1,0,1"}, 2, "--spacing takes X,Y,Z"},
        {{}, {"pack", "s", "-o", "o.vol", "--size", "0"}, 2, "--size takes N"},
        {{}, {"pack", "s", "-o", "o.vol", "--max-size", "x"}, 2, "--max-size takes N"},
        {{}, {"pack", "s", "-o", "o.vol", "--size", "4", "--max-size", "8"}, 2,
         "--size and --max-size exclude each other"},
        {{{"s/in.vol", vol(1, 4) + "abc"}}, {"pack", "s/in.vol", "-o", "o.vol", "--channels",
         "3,0,0"}, 1, "s/in.vol: --channels: '3' is no channel of 0 to 2"},
        {{{"s/in.raw", std::string(24, '\1')}}, {"pack", "s/in.raw", "-o", "o.vol", "--spacing",
         "1,1,1e9"}, 1, "would make"},
        {{}, {"unpack", "s/in.vol", "-o", "o.jpg"}, 2, "OUT must be a folder"},
        {{}, {"pack", "s", "-o", "o.dat"}, 2, "tessary-vol pack: -o must name a .vol file"},
        {{}, {"mesh", "s/m.obj", "-o", "o.vol"}, 2, "tessary-vol mesh: -o must name a .dat file"},
        // Refusals that say why and what to do.
        {{}, {"pack", "s/missing.nii", "-o", "o.vol"}, 1,
         "s/missing.nii: can't open input file: no such file"},
        {{}, {"pack", "ftp://host/cells.zarr", "-o", "o.vol"}, 1,
         "ftp://host/cells.zarr: unsupported URL scheme 'ftp://': pack reads OME-Zarr stores"},
        {{}, {"pack", "https://127.0.0.1:9/scan.nii.gz", "-o", "o.vol"}, 1,
         "scan.nii.gz: NIfTI at a URL: pack reads OME-Zarr stores at http://, https://, s3:// "
         "and gs:// URLs only"},
        {{}, {"pack", "s3://bucket/scan.nii.gz", "-o", "o.vol"}, 1,
         "s3://bucket/scan.nii.gz: NIfTI at a URL"},
        // A bucket's store is read; a nameless bucket is refused before anything is asked.
        {{}, {"pack", "gs://B/cells.zarr", "-o", "o.vol"}, 1,
         "gs://B/cells.zarr: 'B' is no bucket name"},
        {{{"s/v.npy", "x"}, {"s/1.png", png22}}, {"pack", "s/1.png", "s/v.npy", "-o", "o.vol"}, 1,
         "s/v.npy: .npy among several inputs, which are read as slice pictures: pack it alone"},
        {{{"s/in.vol", vol(1, 4)}}, {"unpack", "s/in.vol", "-o", "none/o.npy"}, 1,
         "none/o.npy: can't write: there is no folder none (make it first)"},
        {{{"s/in.vol", vol(1, 4)}}, {"unpack", "s/in.vol", "-o", "-"}, 1,
         "-: can't write: standard output is not written to: name a file"},
        {{}, {"shuffle"}, 2, "tessary-vol: unknown command 'shuffle'\nusage: tessary-vol COMMAND"},
        {{}, {}, 2, "usage: tessary-vol COMMAND"},
    };
    // clang-format on
    for (const auto& [files, arguments, status, message] : cases) {
        SCOPED_TRACE(arguments.join(" ").toStdString());
        QDir().mkdir("s");
        for (const auto& [path, bytes] : files)
            writeFile(path, bytes);
        const auto before = tree("."), inputs = tree("s");
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, status);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        if (status == 1) { // a refusal is one line; a usage error shows the usage after it
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
        EXPECT_EQ(tree("."), before); // no output, no temporary left behind
        EXPECT_EQ(tree("s"), inputs);
        QDir("s").removeRecursively();
        QDir("out").removeRecursively();
    }
}

// Numbers on the lines a program reads keep the C locale's form whatever the user's locale,
// and an input named as a file:// URL is read as the file.
TEST_F(PackTest, NumbersKeepOneFormAndFileUrlsAreFiles) {
    writeFile("in.raw", std::string(24, '\1'));
    const QString locales = QDir::current().filePath("locales");
    QDir().mkpath(locales);
    QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"});
    if (!QFileInfo::exists(locales + "/de_DE.UTF-8/LC_NUMERIC"))
        GTEST_SKIP() << "no German locale can be made here";
    qputenv("LOCPATH", locales.toLocal8Bit());
    qputenv("LC_ALL", "de_DE.UTF-8");
    const ToolRun info = runTool({"info", "in.raw", "--spacing", "1.5,1,1", "--crop"});
    const ToolRun pack = runTool({"pack", "file://" + QDir::current().filePath("in.raw"), "-o",
                                  "o.vol", "--spacing", "1,1,0.5", "--crop"});
    qunsetenv("LC_ALL");
    qunsetenv("LOCPATH");
    EXPECT_NE(info.out.find("resampled to 3 x 2 x 2 for spacing 1.5, 1, 1"), std::string::npos)
        << info.out << info.err;
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_TRUE(QFileInfo::exists("o.vol"));
}

// A volume larger than most GL drivers hold is said to be, with the memory it takes. The file is
// sparse: its samples take no disk.
TEST_F(PackTest, CheckSaysWhenAVolumeIsLargerThanMostDriversHold) {
    const std::vector<unsigned char> small = volumeFile(1, "", {1, 2, 3}, 4);
    std::string header(small.begin(), small.begin() + volumeLayout::headerSize);
    const std::int32_t n = 513;
    std::memcpy(&header[volumeLayout::sizeOffset], &n, sizeof n); // little-endian hosts only
    writeFile("big.vol", header);
    ASSERT_TRUE(QFile("big.vol").resize(qint64(volumeLayout::headerSize) + 3LL * n * n * n));
    const ToolRun check = runTool({"check", "big.vol"});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("; N = 513 is above the 512 a side that most GL drivers hold in a 3D "
                             "texture: the viewer needs 405.0 MB of texture memory"),
              std::string::npos)
        << check.out;
}

TEST(CheckTest, InfoAndCheckGiveTheViewersVerdict) {
    ScratchDir dir;
    writeFile("good.vol", volumeFile(2, "good", samplePattern(2)));
    writeFile("short.vol", volumeFile(2, "x/../../up", std::vector<unsigned char>(23)));
    writeFile("\x1b]0;t\a.vol", volumeFile(2, "\x1b[2J", samplePattern(2)));
    ASSERT_TRUE(QImage(1, 1, QImage::Format_RGB888).save("good.png"));
    const ToolRun info = runTool({"info", "good.vol", "short.vol", "\x1b]0;t\a.vol"});
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, "short.vol: file too short: truncated samples\n");
    for (const char* line :
         {"good.vol\n  version          4\n  name             good\n"
          "  size N           2\n  components       3\n"
          "  component type   1\n  sample bytes     24 expected, 24 found\n"
          "  picture          ./good.png: shown, 1 x 1 pixels\n  viewer           loads it",
          "  sample bytes     24 expected, 23 found\n"
          "  picture          none: the name leaves the folder\n"
          "  viewer           refuses it: file too short: truncated samples",
          // a file's own text is printed with its control characters escaped
          "\\x1b]0;t\\x07.vol\n  version          4\n  name             \\x1b[2J\n",
          "  picture          ./\\x1b[2J.png: missing\n"})
        EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find('\x1b'), std::string::npos);
}

TEST_F(PackTest, InfoAndPackTellWhatTheyDoBeforeReadingSamples) {
    writeFile("in.vol", volumeFile(4, "in", samplePattern(4)));
    for (const char* out : {"in.nrrd", "in.tif", "slices"})
        ASSERT_EQ(runTool({"unpack", "in.vol", "-o", out}).status, 0);
    writeFile("in.raw", samplePattern(4));
    // Each input kind, the options, and lines info prints.
    // clang-format off
    const std::tuple<QString, QStringList, std::string> cases[] = {
        {"in.nrrd", {}, "  format           NRRD\n  sizes            4 x 4 x 4\n"
                        "  sample type      uint8\n  channels         3\n"},
        {"in.tif", {"--size", "2"}, "  pack makes       copied, R=0 G=1 B=2, resized to 2^3, rows "
                                    "top-down, as pictures: N = 2"},
        {"in.tif", {"--max-size", "2"}, "copied, R=0 G=1 B=2, resized to 2^3, rows top-down"},
        {"in.tif", {"--max-size", "4"}, "  pack makes       copied, R=0 G=1 B=2, rows top-down, "
                                        "as pictures: N = 4"},
        {"in.raw", {"--spacing", "2,1,1", "--pad", "--max-size", "6"},
         "padded to 8^3, resized to 6^3: N = 6"},
        {"slices", {"--window", "0,127", "--channels", "2,-,0"},
         "  pack makes       window 0 to 127, R=2 G=- B=0, rows top-down, as pictures: N = 4"},
        {"in.raw", {"--spacing", "1,1,2", "--crop"},
         "resampled to 4 x 4 x 8 for spacing 1, 1, 2, cropped to 4^3: N = 4"},
        {"in.raw", {"--spacing", "2,1,1", "--pad"}, "padded to 8^3: N = 8"},
    };
    // clang-format on
    for (const auto& [input, options, expected] : cases) {
        SCOPED_TRACE(input.toStdString());
        const ToolRun info = runTool(QStringList{"info", input} + options);
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find(expected), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("  value range      "), std::string::npos) << info.out;
    }
    const ToolRun refused = runTool({"info", "in.nrrd", "--spacing", "1,2,1"});
    EXPECT_EQ(refused.status, 1);
    // The refusal is said once, on standard error, as every refusal is.
    EXPECT_NE(refused.out.find("  pack             refuses it (the reason follows)\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find("not a cube"), std::string::npos) << refused.out;
    expectRefusal(refused, "in.nrrd: ", "not a cube: 4 x 8 x 4");
    // Packing shrinks a volume and its reference picture, and says what it did.
    const ToolRun pack = runTool({"pack", "in.vol", "-o", "small.vol", "--size", "2",
                                  "--reference-slice", "1", "--reference-size", "1"});
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(pack.out, "small.vol: 4.1 kB to write, N = 2\n"
                        "small.vol: 4 x 4 x 4 uint8 x 3, copied, R=0 G=1 B=2, resized to 2^3: "
                        "N = 2\n");
    EXPECT_EQ(loadedSamples("small.vol").size(), 24u);
    EXPECT_EQ(QImage("small.png").size(), QSize(1, 1));

    // A long thin input's output size is known before any sample is read.
    writeFile("thin.npy", npyFile("|u1", "(2048, 1, 1)") + std::string(2048, '\xff'));
#ifndef __SANITIZE_ADDRESS__ // it needs more address space than the limit leaves
    // Planning makes no buffer: under 2 GB of address space info still tells the output's size.
    const ToolRun planned = runTool({"info", "thin.npy", "--pad", "--size", "16384"}, 2 << 20);
    EXPECT_NE(planned.out.find("  output           13.2 TB (N = 16384)"), std::string::npos)
        << planned.out << planned.err;
    EXPECT_TRUE(planned.status == 0 || planned.err.find("packing needs") != std::string::npos)
        << planned.err;
#endif
}

TEST_F(PackTest, ReferencePicturesAreOnesTheViewerShows) {
    writeFile("in.vol", volumeFile(2, "in", samplePattern(2)));
    // 8193 pixels above the viewer's limit, and one it shows as it is.
    ASSERT_TRUE(filledPicture(8192, 2049, Qt::red).save("wide.png"));
    ASSERT_TRUE(filledPicture(300, 20, Qt::green).save("small.jpg"));
    const std::tuple<QString, QSize, std::string> cases[] = {
        {"wide.png", QSize(256, 64),
         ", picture fitted to 256 x 64 (the viewer shows at most 16777216 pixels)\n"},
        {"small.jpg", QSize(300, 20), ": N = 2\n"}, // shown as it is, converted to PNG
    };
    for (const auto& [picture, size, closing] : cases) {
        SCOPED_TRACE(picture.toStdString());
        const ToolRun pack = runTool({"pack", "in.vol", "-o", "out.vol", "--reference", picture});
        EXPECT_EQ(pack.status, 0) << pack.err;
        EXPECT_EQ(pack.out.size() - pack.out.rfind(closing), closing.size()) << pack.out;
        EXPECT_EQ(QImage("out.png").size(), size);
        const ToolRun check = runTool({"check", "out.vol"});
        EXPECT_EQ(check.status, 0);
        EXPECT_EQ(check.out, formatString("out.vol: ok; picture ./out.png: shown, %d x %d pixels\n",
                                          size.width(), size.height()));
    }
}

TEST(SamplesTest, SamplesAreDeterministicAndKeptUnlessForced) {
    ScratchDir dir;
    captureStdout([] { EXPECT_EQ(writeSamples("in", false), ""); });
    const QStringList volumes = QDir("in").entryList({"*.vol"});
    EXPECT_EQ(volumes.size(), 6);
    for (const QString& volume : volumes) { // each loads and has its picture
        const QString name = QFileInfo(volume).completeBaseName();
        SCOPED_TRACE(name.toStdString());
        FileHandle file;
        VolumeHeader header;
        EXPECT_EQ(checkVolumeFile(qPrintable("in/" + volume), nullptr, -1, &file, &header), "");
        EXPECT_EQ(header.name, name.toStdString());
        EXPECT_FALSE(QImage("in/" + name + ".png").isNull());
    }
    // Rewritten only when a file of the sample is missing, or when forced, with the same bytes.
    const std::string wood = fileBytes("in/wood.vol"), cells = fileBytes("in/cells.vol");
    QFile::remove("in/wood.png");
    const std::string again = captureStdout([] { EXPECT_EQ(writeSamples("in", false), ""); });
    EXPECT_EQ(again.find("in/wood.vol (N=64, 790528 bytes,"), 0u) << again;
    EXPECT_EQ(again.find("cells"), std::string::npos);
    const std::string forced = captureStdout([] { EXPECT_EQ(writeSamples("in", true), ""); });
    EXPECT_NE(forced.find("in/cells.vol"), std::string::npos);
    EXPECT_EQ(fileBytes("in/wood.vol"), wood);
    EXPECT_EQ(fileBytes("in/cells.vol"), cells);
}
