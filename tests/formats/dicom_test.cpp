#include "dicom/dicomelements.h"
#include "dicom/dicompixels.h"
#include "dicom/dicomrle.h"
#include "dicomfiles.h"
#include "dicom/dicom.h"
#include "formattable.h"
#include "formatsupport.h"
#include "orientation.h"

#include <cstring>
#include <functional>
#include <numeric>
#include <random>

namespace {
// The int16 samples k * 100 + i, six a slice, of the slices k in order.
std::string sliceSamples(std::initializer_list<int> slices) {
    std::vector<double> values;
    for (int k : slices)
        for (int i = 0; i < 6; ++i)
            values.push_back(k * 100 + i);
    return typedBytes(SampleType::Int16, values);
}

// A slice at z with its samples, written to name.
void writeSlice(const std::string& name, double z, int k, int instance = 0) {
    DicomSlice slice;
    slice.z = z;
    slice.instance = instance;
    slice.pixels = sliceSamples({k});
    ASSERT_EQ(writeDicom(name, slice), "");
}

// A series of depth slices at z = 3k (or at the positions given), written under shuffled file
// names into folder; its samples.
std::string writeSeries(const std::string& folder, int depth, DicomSlice slice,
                        const std::vector<double>& positions = {}) {
    const std::string all = typedPattern(SampleType::Int16, slice.columns, slice.rows, depth, 1);
    const std::size_t bytes = all.size() / std::size_t(depth);
    std::vector<int> names(static_cast<std::size_t>(depth));
    std::iota(names.begin(), names.end(), 0);
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    for (int k = 0; k < depth; ++k) {
        slice.z = positions.empty() ? 3.0 * k : positions[std::size_t(k)];
        slice.pixels = all.substr(bytes * std::size_t(k), bytes);
        const std::string name = folder + "/img" + std::to_string(names[std::size_t(k)]) + ".dcm";
        EXPECT_EQ(writeDicom(name, slice), "");
    }
    return all;
}

// Each test in a scratch folder, with a source to open its inputs into.
class DicomTest : public testing::Test {
protected:
    ScratchDir scratch;
    TypedSource source;
};

// A series in position order, not by name; big-endian samples (which GDCM swaps, and reads again
// on later passes) as the little-endian ones; rescaled ones as floats; single bits as bytes;
// a large file as a small one.
TEST_F(DicomTest, SamplesComeInPositionOrderAsTheirType) {
    const std::string expected = writeSeries("ct", 5, DicomSlice());
    writeFile("ct/notes.txt", "not DICOM");
    DicomSlice big;
    big.syntax = gdcm::TransferSyntax::ExplicitVRBigEndian;
    writeSeries("big", 5, big);
    DicomSlice scaled;
    scaled.slope = 2;
    scaled.intercept = -1024;
    writeSeries("scaled", 3, scaled);
    DicomSlice mask;
    mask.columns = 8; // GDCM pads shorter rows to whole bytes, which the file does not
    mask.rows = 2;
    mask.format = gdcm::PixelFormat(1, 1, 1, 0);
    mask.pixels = std::string("\xa5\x01", 2); // eight samples a byte from the lowest bit on
    ASSERT_EQ(writeDicom("mask.dcm", mask), "");
    // Compressed by each of GDCM's lossless codecs (whose JPEG 2000 encoder fails on the
    // smallest pictures).
    const std::pair<const char*, gdcm::TransferSyntax::TSType> codecs[] = {
        {"rle", gdcm::TransferSyntax::RLELossless},
        {"jpeg", gdcm::TransferSyntax::JPEGLosslessProcess14_1},
        {"jpeg2000", gdcm::TransferSyntax::JPEG2000Lossless}};
    std::string compressedSamples;
    for (const auto& [folder, syntax] : codecs) {
        DicomSlice compressed;
        compressed.syntax = syntax;
        compressed.columns = compressed.rows = 16;
        compressedSamples = writeSeries(folder, 5, compressed);
    }
    // A file too large to be read at once, which GDCM reads from the file.
    DicomSlice large;
    large.columns = large.rows = 3000;
    large.pixels = typedPattern(SampleType::Int16, 3000, 3000, 1, 1);
    ASSERT_EQ(writeDicom("large.dcm", large), "");
    const std::tuple<const char*, std::string, SampleType> cases[] = {
        {"ct", expected, SampleType::Int16},
        {"big", expected, SampleType::Int16},
        {"scaled", typedPattern(SampleType::Float32, 3, 2, 3, 1, false, 2, -1024),
         SampleType::Float32},
        {"mask.dcm", std::string("\1\0\1\0\0\1\0\1\1", 9) + std::string(7, '\0'),
         SampleType::UInt8},
        {"large.dcm", large.pixels, SampleType::Int16},
        {"rle", compressedSamples, SampleType::Int16},
        {"jpeg", compressedSamples, SampleType::Int16},
        {"jpeg2000", compressedSamples, SampleType::Int16},
    };
    for (const auto& [input, samples, type] : cases) {
        SCOPED_TRACE(input);
        const std::string got = packSamples({input}, {}, &source);
        EXPECT_TRUE(got == samples) << got.substr(0, 100); // the large file's are megabytes
        EXPECT_EQ(source.info.type, type);
    }
    // Files a codec decodes are decoded once, by the child that checks them, whose samples are
    // read back; without a temporary folder to hand them back in, the converter decodes them
    // itself and keeps them for the next pass. RLE frames are decoded again on each pass, at
    // about the cost of reading them back.
    for (const bool handedBack : {true, false}) {
        const QByteArray folder = qgetenv("TMPDIR");
        if (!handedBack)
            qputenv("TMPDIR", "no-such-folder");
        for (const char* codec : {"rle", "jpeg", "jpeg2000"}) {
            SCOPED_TRACE(codec);
            EXPECT_TRUE(packSamples({codec}, {}, &source) == compressedSamples);
            EXPECT_EQ(source.costlyReads, !handedBack && std::string(codec) != "rle");
        }
        if (folder.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", folder);
    }
    ASSERT_EQ(openPackInput({"ct"}, {}, &source), "");
    EXPECT_EQ(describe(source.info), "DICOM series: 3x2x5 int16*1 alpha -1, spacing 0.5 0.25 3 "
                                     "known, oriented LAS from Image Orientation (Patient) "
                                     "(x = i, y = -j, z = k)");
    EXPECT_TRUE(source.concurrent);
    // Later passes read little-endian samples again from the file: one cut short between passes
    // is refused, not read past its end.
    std::string samples;
    ASSERT_EQ(readTwice(source, &samples), "");
    const QString first = QDir("ct").entryInfoList({"*.dcm"}, QDir::Files)[0].filePath();
    ASSERT_TRUE(QFile::resize(first, QFileInfo(first).size() - 2));
    const std::string failure = readTwice(source, &samples);
    EXPECT_NE(failure.find("changed while it was read"), std::string::npos) << failure;
}

// Several series in one folder, two time points at three positions (the second's instances
// after the first's) and the frames of one file: each picked by number, slices in position order.
TEST_F(DicomTest, SeriesAndVolumesArePickedByNumberSlicesByPosition) {
    DicomSlice second;
    second.uid = "1.2.826.0.1.3680043.2.1125.2";
    second.columns = 4;
    writeSeries("two", 3, DicomSlice());
    const std::string secondSeries = writeSeries("two/b", 2, second);
    for (const QString& name : QDir("two/b").entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename("two/b/" + name, "two/b-" + name));
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < 3; ++k)
            writeSlice(formatString("fmri/t%dk%d.dcm", 1 - t, k), 3.0 * k, 10 * t + k,
                       1 + 3 * t + k);
    writeSlice("one.dcm", 0, 0);
    DicomSlice multi;
    multi.frames = 4;
    multi.pixels = sliceSamples({2, 0, 1, 3});
    multi.frameZ = {6, 0, 3, 9};
    ASSERT_EQ(writeDicom("shuffled.dcm", multi), "");
    multi.frameZ = {3, 0, 0, 3};
    ASSERT_EQ(writeDicom("twice.dcm", multi), "");
    multi.frameZ = {0, 3, 6, 10};
    ASSERT_EQ(writeDicom("uneven.dcm", multi), "");
    // The input, the series and volume picked, and the samples or a piece of the refusal.
    const std::tuple<const char*, InputSelection, bool, std::string> cases[] = {
        {"two", {-1, -1}, false, "2 DICOM series"},
        {"two", {1, -1}, true, secondSeries},
        {"two", {2, -1}, false, "no DICOM series 2"},
        {"fmri", {-1, -1}, false, "2 DICOM volumes at the same slice positions"},
        {"fmri", {-1, 1}, true, sliceSamples({10, 11, 12})},
        {"fmri", {-1, 0}, true, sliceSamples({0, 1, 2})},
        {"fmri", {-1, 2}, false, "no volume 2: there are 2"},
        {"one.dcm", {-1, 1}, false, "no volume 1"},
        {"shuffled.dcm", {-1, -1}, true, sliceSamples({0, 1, 2, 3})},
        {"twice.dcm", {-1, -1}, false, "2 DICOM volumes"},
        // At one position, frames follow in file order: volume 1 holds the later frames.
        {"twice.dcm", {-1, 1}, true, sliceSamples({1, 3})},
        {"uneven.dcm", {-1, -1}, false, "uneven slice positions: 0, 3, 6, 10"},
    };
    for (const auto& [input, selection, packs, expected] : cases) {
        SCOPED_TRACE(formatString("%s %d %d", input, selection.series, selection.volume));
        source = TypedSource(); // nothing left from the case before
        const std::string got = packSamples({input}, selection, &source);
        if (!packs) {
            expectRefusal(got, input, expected);
            continue;
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(source.info.spacing[2], 3);
        EXPECT_TRUE(source.info.spacingKnown);
    }
    std::vector<DicomSeriesSummary> list, fmri;
    ASSERT_EQ(listDicomSeries("two", &list), "");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].uid, second.uid);
    EXPECT_EQ(list[1].slices, 2);
    EXPECT_EQ(list[1].width, 4);
    EXPECT_EQ(list[0].description, "test series");
    ASSERT_EQ(listDicomSeries("fmri", &fmri), "");
    ASSERT_EQ(fmri.size(), 1u);
    EXPECT_EQ(fmri[0].volumes, 2);
    EXPECT_EQ(fmri[0].slices, 3);
}

TEST_F(DicomTest, RleFramesDecodeEverySampleSize) {
    // Two pixels of three channels of two bytes: segments hold each channel's high bytes, then
    // its low bytes. Segment 0 is a literal run, segment 1 a repeat, the others mixed.
    const auto bytes = [](const std::string& text) {
        return std::vector<unsigned char>(text.begin(), text.end());
    };
    const std::vector<unsigned char> frame =
        bytes(rleFrame({std::string("\x01\x12\x34", 3), std::string("\xff\x56", 2),
                        std::string("\x00\x9a\x00\xbc", 4), std::string("\xff\x00", 2),
                        std::string("\x01\x01\x02", 3), std::string("\x80\xff\x03", 3)}));
    std::uint16_t out[6] = {};
    ASSERT_EQ(decodeRleFrame(frame.data(), frame.size(), 2, 3, 2, reinterpret_cast<char*>(out)),
              "");
    const std::uint16_t expected[6] = {0x1256, 0x9a00, 0x0103, 0x3456, 0xbc00, 0x0203};
    EXPECT_EQ(std::vector<std::uint16_t>(out, out + 6),
              std::vector<std::uint16_t>(expected, expected + 6));

    // One channel of two bytes, the common case, which is interleaved apart.
    const std::vector<unsigned char> grey =
        bytes(rleFrame({std::string("\x02\x01\x02\x03", 4), std::string("\xfe\x7f", 2)}));
    std::uint16_t samples[3] = {};
    ASSERT_EQ(decodeRleFrame(grey.data(), grey.size(), 3, 1, 2, reinterpret_cast<char*>(samples)),
              "");
    EXPECT_EQ(std::vector<std::uint16_t>(samples, samples + 3),
              (std::vector<std::uint16_t>{0x017f, 0x027f, 0x037f}));

    const std::tuple<const char*, std::function<void(std::vector<unsigned char>*)>, const char*>
        damages[] = {
            {"segment count", [](auto* f) { (*f)[0] = 5; }, "5 segments where 6 are needed"},
            {"header cut", [](auto* f) { f->resize(40); }, "no segments"},
            {"offset past the end", [](auto* f) { (*f)[24] = 0xff; }, "outside its fragment"},
            {"last segment short", [](auto* f) { f->pop_back(); }, "ends early"},
            {"run too short", [](auto* f) { (*f)[67] = 0; }, "ends early"},
        };
    for (const auto& [what, apply, message] : damages) {
        std::vector<unsigned char> bad = frame;
        apply(&bad);
        const std::string got =
            decodeRleFrame(bad.data(), bad.size(), 2, 3, 2, reinterpret_cast<char*>(out));
        EXPECT_NE(got.find(message), std::string::npos) << what << ": " << got;
    }
}

// RLE files are decoded from their own fragments, GDCM reading the header alone: the frames of
// a multi-frame file as GDCM's full read gives them; damaged encapsulations refused, never read
// past the file's end.
TEST_F(DicomTest, RleFilesDecodeFromTheirFragments) {
    DicomSlice frames;
    frames.columns = frames.rows = 16;
    frames.frames = 3;
    frames.pixels = typedPattern(SampleType::Int16, 16, 16, 3, 1);
    ASSERT_EQ(writeDicom("plain.dcm", frames), "");
    frames.syntax = gdcm::TransferSyntax::RLELossless;
    ASSERT_EQ(writeDicom("rle.dcm", frames), "");
    EXPECT_TRUE(packSamples({"rle.dcm"}, {}, &source) == frames.pixels);
    EXPECT_TRUE(packSamples({"plain.dcm"}, {}, &source) == frames.pixels);

    const std::string bytes = fileBytes("rle.dcm");
    // The item that holds the last frame: its length is the four bytes after its tag.
    const std::size_t last = bytes.rfind(std::string("\xfe\xff\x00\xe0", 4));
    ASSERT_NE(last, std::string::npos);
    std::string overrun = bytes;
    overrun[last + 7] = '\x7f';
    const std::pair<const char*, std::string> damaged[] = {
        {"cut.dcm", bytes.substr(0, bytes.size() - 12)},
        {"overrun.dcm", overrun},
        {"no-end.dcm", bytes.substr(0, bytes.size() - 8)},
    };
    for (const auto& [name, content] : damaged) {
        SCOPED_TRACE(name);
        writeFile(name, content);
        EXPECT_EQ(packSamples({name}, {}, &source),
                  std::string(name) +
                      ": damaged DICOM RLE data: its fragments do not lie whole in the file");
    }
    // A file too large to be read at once by default, its samples past RLE's runs: read whole
    // all the same, so that its end is checked too.
    DicomSlice large;
    large.columns = large.rows = 3000;
    large.syntax = gdcm::TransferSyntax::RLELossless;
    std::mt19937 noise(3);
    for (int i = 0; i < 3000 * 3000; ++i)
        large.pixels += typedBytes(SampleType::Int16, {double(noise() % 60000) - 30000});
    ASSERT_EQ(writeDicom("large.dcm", large), "");
    ASSERT_GT(QFileInfo("large.dcm").size(), 16 << 20);
    EXPECT_TRUE(packSamples({"large.dcm"}, {}, &source) == large.pixels);
    writeFile("large-cut.dcm",
              fileBytes("large.dcm").substr(0, QFileInfo("large.dcm").size() - 12));
    EXPECT_EQ(packSamples({"large-cut.dcm"}, {}, &source),
              "large-cut.dcm: damaged DICOM RLE data: its fragments do not lie whole in the file");
}

TEST_F(DicomTest, DamagedFilesAreRefusedNamingTheFile) {
    writeSlice("whole.dcm", 0, 1);
    const std::string bytes = fileBytes("whole.dcm");
    writeFile("cut.dcm", bytes.substr(0, bytes.size() - 3)); // GDCM pads it with zeros
    DicomSlice mosaic;
    mosaic.pixels = sliceSamples({0});
    mosaic.imageType = "ORIGINAL\\PRIMARY\\M\\NORM\\DIS2D\\MOSAIC";
    ASSERT_EQ(writeDicom("mosaic.dcm", mosaic), "");
    // A file on which GDCM fails an assertion: the refusal names it.
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("TESSARY_SOURCE_DIR") +
                                "/fuzz/corpus/dicom/regression-meta-assert.dcm",
                            "crash.dcm"));
    writeSeries("repeated", 3, DicomSlice(), {0, 3, 3});
    DicomSlice twelveBits;
    twelveBits.format = gdcm::PixelFormat(1, 12, 12, 11);
    twelveBits.pixels.assign(9, 0);
    ASSERT_EQ(writeDicom("packed/a.dcm", twelveBits), "");
    makeNotAFile("fifo/x.dcm", NotAFile::Fifo);
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"cut.dcm", "cut.dcm: ", "DICOM pixel data too short"},
        {"mosaic.dcm", "mosaic.dcm: ", "Siemens mosaic"},
        {"crash.dcm", "crash.dcm: ", "malformed DICOM data"},
        {"repeated", "repeated", "repeated slice positions: 0, 3, 3"},
        {"packed", "packed", "sample type"},
        {"fifo/x.dcm", "fifo/x.dcm: ", "can't open input file"},
    };
    for (const auto& [input, named, what] : cases)
        expectRefusal(openPackInput({input}, {}, &source), named, what);
    EXPECT_EQ(packSamples({"whole.dcm"}, {}, &source), sliceSamples({1}));
}

// An element that claims more bytes than the file holds, which GDCM would allocate and fill
// before finding the file short: at the top level, and two sequences deep where only the full
// read reaches; in a folder, the file is left out.
TEST_F(DicomTest, LengthsPastTheFileAreRefusedBeforeTheyAreRead) {
    DicomSlice slice;
    slice.frames = 2;
    slice.frameZ = {0, 3};
    slice.pixels = sliceSamples({0, 1});
    ASSERT_EQ(writeDicom("whole.dcm", slice), "");
    const std::string bytes = fileBytes("whole.dcm");
    // A private element of unknown representation that claims about 3 GB.
    const std::string lie("\x11\x00\x01\x10UN\x00\x00\x00\x00\x00\xc0"
                          "abcd",
                          16);
    auto insertBefore = [&](const std::string& tag, std::size_t from) {
        const std::size_t at = bytes.find(tag, from);
        EXPECT_NE(at, std::string::npos);
        return at == std::string::npos ? bytes : std::string(bytes).insert(at, lie);
    };
    const std::size_t frames = bytes.find(std::string("\x00\x52\x30\x92", 4));
    ASSERT_NE(frames, std::string::npos);
    writeFile("top.dcm", insertBefore(std::string("\x18\x00\x50\x00"
                                                  "DS",
                                                  6),
                                      0));
    writeFile("nested.dcm", insertBefore(std::string("\x20\x00\x32\x00"
                                                     "DS",
                                                     6),
                                         frames));
    writeFile("folder/a.dcm", bytes);
    writeFile("folder/b.dcm", fileBytes("nested.dcm"));
    const char* fault = dicomLengthRunsPast;
    for (const char* name : {"top.dcm", "nested.dcm"})
        EXPECT_EQ(packSamples({name}, {}, &source), std::string(name) + ": " + fault);
    EXPECT_EQ(packSamples({"folder"}, {}, &source), slice.pixels);
    EXPECT_EQ(source.info.note,
              std::string("1 damaged file left out: folder/b.dcm (") + fault + ")");
    EXPECT_EQ(packSamples({"whole.dcm"}, {}, &source), slice.pixels);
}

// A folder's damaged files are left out of the series beside them, and said to be: one on which
// GDCM fails an assertion (the folder is scanned again without it) and one plainly damaged. A
// folder of nothing else is refused, naming the first.
TEST_F(DicomTest, DamagedFilesOfAFolderAreLeftOutAndNamed) {
    writeSlice("mixed/a.dcm", 0, 0);
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("TESSARY_SOURCE_DIR") +
                                "/fuzz/corpus/dicom/regression-meta-assert.dcm",
                            "mixed/b.dcm"));
    writeSlice("mixed/c.dcm", 3, 1);
    DicomSlice twoFrames;
    twoFrames.frames = 2;
    twoFrames.pixels = sliceSamples({0, 1});
    ASSERT_EQ(writeDicom("two.dcm", twoFrames), "");
    std::string bytes = fileBytes("two.dcm");
    const std::string frames("\x28\x00\x08\x00IS\x02\x00", 8); // (0028,0008), IS, 2 bytes
    const std::size_t at = bytes.find(frames);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + frames.size(), 2, "-1");
    writeFile("mixed/d.dcm", bytes);
    EXPECT_EQ(packSamples({"mixed"}, {}, &source), sliceSamples({0, 1}));
    const std::string leftOut = "2 damaged files left out: mixed/b.dcm (malformed DICOM data: the "
                                "DICOM library gave up on it), mixed/d.dcm (bad DICOM Number of "
                                "Frames)";
    EXPECT_EQ(source.info.note, leftOut);
    const ToolRun info = runTool({"info", "mixed", "--pad"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("  note             " + leftOut + "\n"), std::string::npos) << info.out;

    ASSERT_TRUE(QDir().mkdir("damaged") && QFile::copy("mixed/b.dcm", "damaged/b.dcm") &&
                QFile::copy("mixed/d.dcm", "damaged/d.dcm"));
    expectRefusal(openPackInput({"damaged"}, {}, &source),
                  "damaged/b.dcm: ", "malformed DICOM data");
}

TEST_F(DicomTest, SubfoldersAreSearchedAndLinksOutRefused) {
    // A CD layout: an index, then patient, study and series folders.
    writeFile("cd/DICOMDIR", "not an image");
    writeSlice("cd/PT0/ST0/SE0/IM2", 6, 2);
    writeSlice("cd/PT0/ST0/SE0/IM0", 0, 0);
    writeSlice("cd/PT0/ST1/IM1", 3, 1);
    EXPECT_EQ(packSamples({"cd"}, {}, &source), sliceSamples({0, 1, 2}));
    std::vector<std::string> files = source.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"cd/PT0/ST0/SE0/IM0", "cd/PT0/ST0/SE0/IM2",
                                               "cd/PT0/ST1/IM1"}));

    writeSlice("outside.dcm", 9, 3);
    ASSERT_TRUE(QFile::link("../../outside.dcm", "cd/PT0/link.dcm"));
    expectRefusal(openPackInput({"cd"}, {}, &source), "cd/PT0/link.dcm", "leads out");
    const QString deep = "deep" + QString("/d").repeated(10);
    writeSlice((deep + "/x.dcm").toStdString(), 0, 0);
    expectRefusal(openPackInput({"deep"}, {}, &source), "deep/", "nested more than");
}

TEST_F(DicomTest, SpacingAndOrientationOnlyAsTheFileGivesThem) {
    DicomSlice bare;
    bare.placed = false;
    bare.pixels = sliceSamples({0});
    ASSERT_EQ(writeDicom("bare.dcm", bare), "");
    writeSlice("placed.dcm", 0, 0);
    const struct {
        const char* input;
        bool known[3];
        const char* note;
        const char* orientation;
    } cases[] = {
        {"bare.dcm", {false, false, false}, "", "rows top-down, as pictures"},
        {"placed.dcm",
         {true, true, false},
         "slice thickness 2.5",
         "oriented LAS from Image Orientation (Patient) (x = i, y = -j, z = k)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        source = TypedSource(); // nothing left from the case before
        ASSERT_EQ(openPackInput({c.input}, {}, &source), "");
        const VolumeInfo& info = source.info;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(info.axisSpacingKnown[k], c.known[k]) << "axis " << k;
        EXPECT_EQ(info.spacingKnown, c.known[0] && c.known[1] && c.known[2]);
        EXPECT_EQ(info.spacingNote, c.note);
        EXPECT_EQ(describeOrientation(info), c.orientation);
    }
}

} // namespace

namespace {
// Series placed in the patient in several ways come out as the radiological display shows them:
// x toward the patient's left, y anterior, z superior.
TEST_F(DicomTest, EverySeriesTurnsToTheSameAxes) {
    const struct {
        const char* folder;
        double cosines[6]; // rows, columns, in LPS+
        const char* orientation;
        int (*stored)(int x, int y, int z, int axis); // the file's i, j, k of the volume's x, y, z
    } cases[] = {
        {"axial",
         {1, 0, 0, 0, 1, 0},
         "(x = i, y = -j, z = k)",
         [](int x, int y, int z, int axis) { return axis == 0   ? x
                                                    : axis == 1 ? 2 - y
                                                                : z; }},
        // Columns toward anterior: the normal, and so the slices, run toward the feet.
        {"axial-flipped",
         {1, 0, 0, 0, -1, 0},
         "(x = i, y = j, z = -k)",
         [](int x, int y, int z, int axis) { return axis == 0   ? x
                                                    : axis == 1 ? y
                                                                : 2 - z; }},
        // Rows toward posterior, columns toward the feet, slices toward the right.
        {"sagittal",
         {0, 1, 0, 0, 0, -1},
         "(x = -k, y = -i, z = -j)",
         [](int x, int y, int z, int axis) {
             return axis == 0 ? 2 - y : axis == 1 ? 2 - z : 2 - x;
         }},
        // Rows toward the left, columns toward the feet, slices toward posterior.
        {"coronal",
         {1, 0, 0, 0, 0, -1},
         "(x = i, y = -k, z = -j)",
         [](int x, int y, int z, int axis) { return axis == 0   ? x
                                                    : axis == 1 ? 2 - z
                                                                : 2 - y; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        DicomSlice slice;
        slice.columns = slice.rows = 3;
        slice.spacing[0] = slice.spacing[1] = 3;
        slice.format = gdcm::PixelFormat::UINT8;
        std::copy_n(c.cosines, 6, slice.cosines);
        for (int k = 2; k >= 0; --k) { // written last slice first
            slice.z = 3.0 * k;
            slice.pixels.clear();
            for (int i = 0; i < 9; ++i)
                slice.pixels += char(10 + i + 9 * k);
            ASSERT_EQ(writeDicom(formatString("%s/%d.dcm", c.folder, k), slice), "");
        }
        const ToolRun run = runTool({"pack", c.folder, "-o", "v.vol"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(std::string("oriented LAS from Image Orientation (Patient) ") +
                               c.orientation),
                  std::string::npos)
            << run.out;
        const std::vector<unsigned char> got = loadedSamples("v.vol");
        ASSERT_EQ(got.size(), 81u);
        for (int z = 0; z < 3; ++z)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 3; ++x) {
                    const int i = c.stored(x, y, z, 0), j = c.stored(x, y, z, 1),
                              k = c.stored(x, y, z, 2);
                    EXPECT_EQ(got[std::size_t(3 * (x + 3 * y + 9 * z))], 10 + i + 3 * j + 9 * k)
                        << x << " " << y << " " << z;
                }
    }
}
} // namespace
