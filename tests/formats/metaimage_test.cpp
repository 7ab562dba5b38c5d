#include "metaimage.h"
#include "formattable.h"
#include "formatsupport.h"
#include "orientation.h"
#include "storedsamples.h"

namespace {
TEST(MetaImageTest, LocalSeparateCompressedAndBigEndianDataComeBack) {
    ScratchDir scratch;
    const auto metaHeader = [](const std::string& type, const std::string& extra,
                               const std::string& dataFile) {
        return mhaHeader("ElementSpacing = 0.5 1 2.5\n" + extra, dataFile, "3 2 4", type);
    };
    const std::string u8 = typedPattern(SampleType::UInt8, 3, 2, 4, 1);
    const std::string i16 = typedPattern(SampleType::Int16, 3, 2, 4, 1);
    const std::string f32 = typedPattern(SampleType::Float32, 3, 2, 4, 2);
    std::string i16Swapped = i16;
    swapSampleBytes(SampleType::Int16, i16.size() / 2, &i16Swapped[0]);
    writeFile("u8.mha", metaHeader("MET_UCHAR", "AnatomicalOrientation = RAI\n", "LOCAL") + u8);
    writeFile("data/i16.raw", i16Swapped);
    writeFile("i16.mhd",
              metaHeader("MET_SHORT", "BinaryDataByteOrderMSB = True\n", "data/i16.raw"));
    const std::string packed = zlibBytes(f32), size = std::to_string(packed.size());
    const std::string channels = "ElementNumberOfChannels = 2\nCompressedData = True\n";
    writeFile("f32.mha",
              metaHeader("MET_FLOAT", channels + "CompressedDataSize = " + size + "\n", "LOCAL") +
                  packed);
    writeFile("tail.raw", "some leading bytes" + u8);
    writeFile("tail.mhd", metaHeader("MET_UCHAR", "HeaderSize = -1\n", "tail.raw"));
    struct Case {
        const char* name;
        const std::string& expected;
        const char *format, *type, *orientation;
    } cases[] = {
        {"u8.mha", u8, "MetaImage", "uint8*1", "AnatomicalOrientation RAI"},
        {"i16.mhd", i16, "MetaImage", "int16*1", "ITK's default axes"},
        {"f32.mha", f32, "MetaImage (zlib)", "float32*2", "ITK's default axes"},
        {"tail.mhd", u8, "MetaImage", "uint8*1", "ITK's default axes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypedSource source;
        EXPECT_EQ(packSamples({c.name}, {}, &source), c.expected);
        EXPECT_EQ(describe(source.info),
                  formatString("%s: 3x2x4 %s alpha -1, spacing 0.5 1 2.5 known, oriented LAS "
                               "from %s (x = i, y = -j, z = k)",
                               c.format, c.type, c.orientation));
    }
}

// Keys the tool does not use are passed over wherever they stand, as MetaImage's own reader
// does; what decides the samples must still be said once and agree, and the data file must be
// one file in the header's folder.
TEST(MetaImageTest, KeysTheToolDoesNotUseArePassedOver) {
    const std::string itk = "ITK_InputFilterName = MetaImageIO\nCenterOfRotation = 0 0 0\n"
                            "Color = 1 0 0 1\nITK_original_direction = 1 0 0 0 1 0 0 0 1\n"
                            "TransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = 0 0 0\n"
                            "AnatomicalOrientation = RAI\n";
    const std::string lps = "i: right to left, j: anterior to posterior, k: inferior to superior";
    struct Case {
        std::string text, from, fileAxes;
        double spacing;
        bool spacingKnown, bigEndian;
    } read[] = {
        {mhaHeader(itk), "the TransformMatrix", lps, 1, false, false},
        {mhaHeader("Color = 1\nColor = 2\nSomeNewKey = anything at all\n"), "ITK's default axes",
         lps, 1, false, false},
        {mhaHeader("ElementSize = 3 3 3\n"), "ITK's default axes", lps, 3, true, false},
        {mhaHeader("ElementSpacing = 2 2 2\nElementSize = 3 3 3\n"), "ITK's default axes", lps, 2,
         true, false},
        {mhaHeader("AnatomicalOrientation = sideways\n"), "ITK's default axes", lps, 1, false,
         false},
        {mhaHeader("AnatomicalOrientation = LIP\n"), "AnatomicalOrientation LIP",
         "i: left to right, j: inferior to superior, k: posterior to anterior", 1, false, false},
        {mhaHeader("Rotation = 0 1 0 -1 0 0 0 0 1\n"), "the Rotation",
         "i: anterior to posterior, j: left to right, k: inferior to superior", 1, false, false},
        {mhaHeader("BinaryDataByteOrderMSB = True\nElementByteOrderMSB = True\n"),
         "ITK's default axes", lps, 1, false, true},
        {mhaHeader("ElementByteOrderMSB = True\n"), "ITK's default axes", lps, 1, false, true},
    };
    for (const Case& c : read) {
        SCOPED_TRACE(c.text);
        MetaImageHeader parsed;
        ASSERT_EQ(parseMetaImageHeader(c.text, &parsed), "");
        EXPECT_EQ(parsed.axes.from, c.from);
        EXPECT_EQ(describeFileAxes(parsed.axes), c.fileAxes);
        EXPECT_EQ(parsed.spacing[2], c.spacing);
        EXPECT_EQ(parsed.spacingKnown, c.spacingKnown);
        EXPECT_EQ(parsed.bigEndian, c.bigEndian);
        EXPECT_EQ(parsed.headerLength, c.text.size());
    }
    const std::pair<std::string, std::string> refused[] = {
        {mhaHeader("BinaryDataByteOrderMSB = True\nElementByteOrderMSB = False\n"), "disagree"},
        {mhaHeader("CompressedData = False\nCompressedData = True\n"), "given twice"},
        {mhaHeader("DimSize = 4 4 4\n"), "given twice"},
        {mhaHeader("ElementSize = 1 0 1\n"), "ElementSize: not positive"},
        {mhaHeader("TransformMatrix = 1 0 0\n"), "bad MetaImage TransformMatrix: not 9 numbers"},
        {mhaHeader("a line without an equals sign\n"), "bad MetaImage header line"},
        {"NDims = 3\nDimSize = 1 1 1\nElementType = MET_LONG\nElementDataFile = LOCAL\n",
         "ElementType"},
        {mhaHeader("", "LOCAL", "3 2"), "DimSize"},
        {mhaHeader("", "LOCAL", "3 -2 4"), "DimSize"},
        {mhaHeader("", "../up.raw"), "outside"},
        {mhaHeader("", "/etc/passwd"), "outside"},
        {mhaHeader("", "LIST"), "list"},
        {mhaHeader("", "slice%03d.raw 1 4 1"), "list"},
        {"NDims = 3\nDimSize = 1 1 1\nElementType = MET_UCHAR\n", "no ElementDataFile"},
    };
    for (const auto& [text, what] : refused) {
        MetaImageHeader parsed;
        const std::string message = parseMetaImageHeader(text, &parsed);
        EXPECT_NE(message.find(what), std::string::npos) << text << " gave " << message;
    }
}

// A detached data file is an input (LOCAL data is none): pack refuses an output or reference
// picture that would land on it, for MetaImage and NRRD alike, and leaves it as it was.
TEST(MetaImageTest, DataFilesNamedByHeadersAreNeverOverwritten) {
    ScratchDir scratch;
    const std::string samples(8, '\x40');
    writeFile("out.vol", samples);
    writeFile("picture.png", samples);
    writeFile("to-out.mhd", mhaHeader("", "out.vol"));
    writeFile("to-picture.nhdr", "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 2 2 2\n"
                                 "encoding: raw\ndata file: picture.png\n");
    writeFile("local.mha", mhaHeader("") + samples);
    TypedSource source;
    ASSERT_EQ(openPackInput({"local.mha"}, {}, &source), "");
    EXPECT_TRUE(source.files.empty());
    const QStringList runs[] = {
        {"pack", "to-out.mhd", "-o", "out.vol"},
        {"pack", "to-picture.nhdr", "-o", "picture.vol", "--reference-slice", "0"},
    };
    for (const QStringList& arguments : runs) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        expectRefusal(runTool(arguments), "", "can't write: it is one of the inputs");
        EXPECT_EQ(fileBytes("out.vol"), samples);
        EXPECT_EQ(fileBytes("picture.png"), samples);
    }
    // The same headers pack to another name.
    EXPECT_EQ(runTool({"pack", "to-out.mhd", "-o", "fine.vol"}).status, 0);
    EXPECT_EQ(runTool({"pack", "to-picture.nhdr", "-o", "fine.vol"}).status, 0);
}
} // namespace
