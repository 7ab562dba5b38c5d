#include "formattable.h"
#include "filerefused.h"
#include "scratchdir.h"
#include "storedsamples.h"
#include "formatsupport.h"
#include "vtkfiles.h"

#include <cmath>
#include <sstream>

namespace {
const bool hostBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

std::string asciiValues(const std::vector<double>& values) {
    std::ostringstream text;
    text.precision(17);
    for (std::size_t i = 0; i < values.size(); ++i)
        text << values[i] << (i % 5 == 4 ? "\n" : " ");
    return text.str();
}
} // namespace

TEST(VtkTest, EveryTypeReadsInBinaryAndAscii) {
    ScratchDir dir;
    ensureApplication();
    struct Case {
        std::string type;
        SampleType read;
        int components;
    };
    const Case cases[] = {
        {"unsigned_char", SampleType::UInt8, 1},   {"char", SampleType::Int8, 1},
        {"unsigned_short", SampleType::UInt16, 1}, {"short", SampleType::Int16, 2},
        {"unsigned_int", SampleType::UInt32, 1},   {"int", SampleType::Int32, 3},
        {"float", SampleType::Float32, 1},         {"double", SampleType::Float64, 4},
        {"FLOAT", SampleType::Float32, 1},         {"signed_char", SampleType::Int8, 1},
    };
    for (const Case& c : cases)
        for (const bool binary : {true, false})
            for (const bool lookupTable : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << c.type << " x " << c.components << (binary ? " binary" : " ASCII")
                             << (lookupTable ? "" : " no lookup table"));
                VtkFile file;
                file.binary = binary;
                file.dims = "3 2 2";
                file.spacing = "0.5 1 2";
                file.scalars =
                    c.type + (c.components > 1 ? " " + std::to_string(c.components) : "");
                file.lookupTable = lookupTable;
                const std::string samples = typedPattern(c.read, 3, 2, 2, c.components);
                std::vector<double> values;
                withSampleType(c.read, [&](auto* none) {
                    using T = std::remove_const_t<std::remove_pointer_t<decltype(none)>>;
                    const T* typed = reinterpret_cast<const T*>(samples.data());
                    for (std::size_t i = 0; i < samples.size() / sizeof(T); ++i)
                        values.push_back(double(typed[i]));
                });
                writeFile("v.vtk", vtkHeader(file) + (binary ? typedBytes(c.read, values, !hostBig)
                                                             : asciiValues(values)));
                TypedSource source;
                EXPECT_EQ(packSamples({"v.vtk"}, {}, &source), samples);
                EXPECT_EQ(describe(source.info),
                          std::string("VTK legacy (") + (binary ? "binary" : "ASCII") +
                              "): 3x2x2 " + sampleTypeName(c.read) + "*" +
                              std::to_string(c.components) +
                              " alpha -1, spacing 0.5 1 2 known, oriented to the world's axes "
                              "from VTK's axes (x = i, y = j, z = k)");
            }
}

TEST(VtkTest, ColourScalarsReadAsBytes) {
    ScratchDir dir;
    ensureApplication();
    VtkFile file;
    file.colours = true;
    file.scalars = "3";
    file.spacing = "";
    const std::string rgb = typedPattern(SampleType::UInt8, 2, 2, 2, 3);
    writeFile("binary.vtk", vtkHeader(file) + rgb);
    std::vector<double> fractions;
    for (const char byte : rgb)
        fractions.push_back(static_cast<unsigned char>(byte) / 255.0);
    file.binary = false;
    writeFile("ascii.vtk", vtkHeader(file) + asciiValues(fractions));
    file.binary = true;
    file.scalars = "4";
    const std::string rgba = typedPattern(SampleType::UInt8, 2, 2, 2, 4);
    writeFile("rgba.vtk", vtkHeader(file) + rgba);
    // The file, its samples, and the alpha channel.
    const std::tuple<QString, std::string, int> cases[] = {
        {"binary.vtk", rgb, -1}, {"ascii.vtk", rgb, -1}, {"rgba.vtk", rgba, 3}};
    for (const auto& [path, samples, alpha] : cases) {
        SCOPED_TRACE(path.toStdString());
        TypedSource source;
        EXPECT_EQ(packSamples({path}, {}, &source), samples);
        EXPECT_EQ(source.info.channels, alpha < 0 ? 3 : 4);
        EXPECT_EQ(source.info.alphaChannel, alpha);
        EXPECT_FALSE(source.info.spacingKnown);
    }
}

TEST(VtkTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const auto with = [](auto change) {
        VtkFile file;
        change(file);
        return vtkHeader(file);
    };
    const std::string eight(8, 'x');
    const std::string good = with([](VtkFile&) {});
    VtkFile ascii;
    ascii.binary = false;
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"short.vtk", good + "1234567", "file too short"},
        {"ascii-short.vtk", vtkHeader(ascii) + "1 2 3 4 5 6 7", "file too short"},
        {"ascii-word.vtk", vtkHeader(ascii) + "1 2 3 x 5 6 7 8", "bad VTK ASCII sample x"},
        {"version.vtk", "# vtk file\n" + good.substr(good.find('\n') + 1) + eight, "not a VTK legacy file"},
        {"grid.vtk", with([](VtkFile& f) { f.dataset = "UNSTRUCTURED_GRID"; }) + eight, "unsupported VTK dataset UNSTRUCTURED_GRID"},
        {"points.vtk", with([](VtkFile& f) { f.points = "9"; }) + eight, "POINT_DATA 9, not the 8 points"},
        {"huge.vtk", with([](VtkFile& f) { f.dims = "2000000000 2000000000 2000000000"; }) + eight, "too large"},
        {"zero.vtk", with([](VtkFile& f) { f.dims = "2 0 2"; }) + eight, "bad VTK header: DIMENSIONS 2 0 2"},
        {"dims.vtk", with([](VtkFile& f) { f.dims = "2 2"; }) + eight, "DIMENSIONS takes three sizes"},
        {"bit.vtk", with([](VtkFile& f) { f.scalars = "bit"; }) + eight, "unsupported VTK scalar type bit"},
        {"long.vtk", with([](VtkFile& f) { f.scalars = "vtktypeint64"; }) + eight, "unsupported VTK scalar type vtktypeint64"},
        {"components.vtk", with([](VtkFile& f) { f.scalars = "float 5"; }) + eight, "SCALARS of 5 components"},
        {"colours.vtk", with([](VtkFile& f) { f.colours = true; f.scalars = "0"; }) + eight, "COLOR_SCALARS takes a name and 1 to 4 values"},
        {"spacing.vtk", with([](VtkFile& f) { f.spacing = "1 nan 1"; }) + eight, "SPACING of a number that is none"},
        {"headless.vtk", "# vtk DataFile Version 3.0\ntitle\n", "the third line must be ASCII or BINARY"},
        {"wide.vtk", with([](VtkFile& f) { f.dims = "100000 100000 1"; f.scalars = "double"; }) + eight, ""},
    };
    // clang-format on
    for (const auto& [name, contents, reason] : cases)
        expectFileRefused(name, contents, reason);
}

namespace {
// The samples in the byte order a .vti's byte_order names.
std::string inOrder(const std::string& samples, SampleType type, bool big) {
    std::string bytes = samples;
    if (big != hostBig)
        swapSampleBytes(type, bytes.size() / sampleTypeBytes(type), &bytes[0]);
    return bytes;
}
} // namespace

TEST(VtiTest, EveryEncodingCompressorAndHeaderReadsTheSamples) {
    ScratchDir dir;
    ensureApplication();
    const std::pair<const char*, const char*> encodings[] = {
        {"binary", "raw"}, {"appended", "raw"}, {"appended", "base64"}};
    const char* compressors[] = {"", "vtkZLibDataCompressor", "vtkLZ4DataCompressor",
                                 "vtkLZMADataCompressor"};
    const std::string samples = typedPattern(SampleType::Int16, 3, 2, 4, 3);
    for (const auto& [format, encoding] : encodings)
        for (const char* compressor : compressors)
            for (const char* header : {"UInt32", "UInt64"})
                for (const bool big : {false, true}) {
                    VtiFile f;
                    f.format = format;
                    f.encoding = encoding;
                    f.compressor = compressor;
                    f.headerType = header;
                    f.byteOrder = big ? "BigEndian" : "LittleEndian";
                    f.type = "Int16";
                    f.components = "3";
                    f.wholeExtent = "-1 1 4 5 0 3";
                    f.spacing = "0.5 1 2";
                    f.blockSize = 22; // blocks that straddle the slices of 36 bytes
                    SCOPED_TRACE(testing::Message() << format << " " << encoding << " "
                                                    << compressor << " " << header << " " << big);
                    writeFile("v.vti", vtiBytes(f, inOrder(samples, SampleType::Int16, big)));
                    TypedSource source;
                    EXPECT_EQ(packSamples({"v.vti"}, {}, &source), samples);
                    EXPECT_NE(describe(source.info)
                                  .find("; extent -1 1 4 5 0 3): 3x2x4 int16*3 "
                                        "alpha -1, spacing 0.5 1 2 known"),
                              std::string::npos)
                        << describe(source.info);
                }
}

TEST(VtiTest, AsciiArraysClampToTheirType) {
    ScratchDir dir;
    ensureApplication();
    VtiFile f;
    f.format = "ascii";
    f.type = "UInt8";
    writeFile("v.vti", vtiBytes(f, "0 1.4 255 300\n-5 7 8 nan"));
    TypedSource source;
    EXPECT_EQ(packSamples({"v.vti"}, {}, &source), std::string("\0\1\xff\xff\0\7\x08\0", 8));
}

// A slice decodes only the blocks it covers: a damaged last block fails its own slice alone.
TEST(VtiTest, SlicesDecodeOnlyTheirBlocks) {
    ScratchDir dir;
    ensureApplication();
    VtiFile f;
    f.compressor = "vtkZLibDataCompressor";
    f.blockSize = 4;
    std::string file = vtiBytes(f, "abcdefgh");
    file[file.rfind("\n  </AppendedData>") - 3] ^= 0x55; // inside the last block's checksum
    writeFile("v.vti", file);
    TypedSource source;
    ASSERT_EQ(openPackInput({"v.vti"}, {}, &source), "");
    std::string slice(4, '\0');
    EXPECT_EQ(source.read(0, &slice[0]), "");
    EXPECT_EQ(slice, "abcd");
    EXPECT_NE(source.read(1, &slice[0]).find("block 1 of the array"), std::string::npos);
}

TEST(VtiTest, TheArrayReadIsTheOneScalarsOrDatasetNames) {
    ScratchDir dir;
    ensureApplication();
    VtiFile f;
    f.names = {"a", "b"};
    f.scalars = "b";
    writeFile("scalars.vti", vtiBytes(f, "abcdefgh"));
    f.scalars = "";
    writeFile("none.vti", vtiBytes(f, "abcdefgh"));
    // The file, --dataset, and the refusal ("": read).
    const std::tuple<QString, std::string, std::string> cases[] = {
        {"scalars.vti", "", ""},
        {"scalars.vti", "a", ""},
        {"none.vti", "b", ""},
        {"none.vti", "", "none.vti: point data arrays a, b: pick one with --dataset NAME"},
        {"none.vti", "c", "none.vti: no point data array c (the file holds a, b)"},
    };
    for (const auto& [path, dataset, refusal] : cases) {
        SCOPED_TRACE(path.toStdString() + " " + dataset);
        InputSelection pick;
        pick.dataset = dataset;
        TypedSource source;
        if (refusal.empty())
            EXPECT_EQ(packSamples({path}, pick, &source), "abcdefgh");
        else
            EXPECT_EQ(openPackInput({path}, pick, &source), refusal);
    }
    const ToolRun info = runTool({"info", "none.vti"});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("arrays           a, b (pick one with --dataset NAME)"),
              std::string::npos)
        << info.out;
}

TEST(VtiTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const auto with = [](auto change) {
        VtiFile f;
        change(f);
        return vtiBytes(f, "abcdefgh");
    };
    const auto zlib = [](VtiFile& f) {
        f.compressor = "vtkZLibDataCompressor";
        f.blockSize = 4;
    };
    const std::string good = with([](VtiFile&) {});
    // One block stated as 4 bytes of 8 samples' array that inflates to 8, or a block of 8 that
    // inflates to 4.
    const auto lies = [](const char* compressor, bool more) {
        VtiFile f;
        f.compressor = compressor;
        f.blockSize = 8;
        f.words = {{1, more ? 4 : 8}, {2, more ? 4 : 0}};
        return vtiBytes(f, more ? "abcdefghabcdefgh" : "abcd");
    };
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"cut.vti", with([](VtiFile& f) { f.cut = 4; }), "file too short: the array holds"},
        {"cut-header.vti", with([](VtiFile& f) { f.cut = 13; }), "file too short: the array's header is cut short"},
        {"cut-block.vti", with([&](VtiFile& f) { zlib(f); f.cut = 5; }), "file too short: block 1 of the array ends past the data"},
        {"count.vti", with([](VtiFile& f) { f.words = {{0, 9}}; }), "its header gives 9 bytes, not the 8 of the samples"},
        {"past-end.vti", with([&](VtiFile& f) { zlib(f); f.words = {{3, 1ull << 40}}; }), "file too short: block 0 of the array ends past the data"},
        {"block-zero.vti", with([&](VtiFile& f) { zlib(f); f.words = {{1, 0}}; }), "2 blocks of 0 bytes"},
        {"block-huge.vti", with([&](VtiFile& f) { zlib(f); f.words = {{1, ~0ull}, {2, 0}}; }), "not the 8 bytes of the samples"},
        {"block-last.vti", with([&](VtiFile& f) { zlib(f); f.words = {{2, 5}}; }), "2 blocks of 4 bytes (the last 5)"},
        {"blocks-few.vti", with([&](VtiFile& f) { zlib(f); f.words = {{0, 1}}; }), "1 blocks of 4 bytes"},
        {"blocks-many.vti", with([&](VtiFile& f) { zlib(f); f.words = {{0, 1ull << 60}}; }), "more than the file holds"},
        {"zlib-more.vti", lies("vtkZLibDataCompressor", true), "block 0 of the array: decodes to more than 4 bytes"},
        {"zlib-less.vti", lies("vtkZLibDataCompressor", false), "block 0 of the array: decodes to 4 bytes, not 8"},
        {"lz4-more.vti", lies("vtkLZ4DataCompressor", true), "block 0 of the array: bad lz4 data"},
        {"lz4-less.vti", lies("vtkLZ4DataCompressor", false), "block 0 of the array: bad lz4 data"},
        {"lzma-more.vti", lies("vtkLZMADataCompressor", true), "block 0 of the array: decodes to more than 4 bytes"},
        {"lzma-less.vti", lies("vtkLZMADataCompressor", false), "block 0 of the array: decodes to 4 bytes, not 8"},
        {"big.vti", with([](VtiFile& f) { f.wholeExtent = "0 3 0 1 0 1"; }), "its header gives 8 bytes, not the 16 of the samples"},
        {"bigger.vti", with([](VtiFile& f) { f.wholeExtent = "0 3 0 1 0 1"; f.words = {{0, 16}}; }), "file too short: the array holds"},
        {"huge.vti", with([](VtiFile& f) { f.wholeExtent = "0 2000000000 0 2000000000 0 2000000000"; }), "too large"},
        {"inverted.vti", with([](VtiFile& f) { f.wholeExtent = "0 1 1 0 0 1"; }), "bad VTK XML file: extent 0 1 1 0 0 1"},
        {"extent-words.vti", with([](VtiFile& f) { f.wholeExtent = "0 1 0 1"; }), "an extent of six whole numbers"},
        {"piece.vti", with([](VtiFile& f) { f.extent = "1 2 0 1 0 1"; }), "its Extent is not the WholeExtent"},
        {"compressor.vti", with([](VtiFile& f) { f.compressor = "vtkZstdDataCompressor"; }), "compressor vtkZstdDataCompressor"},
        {"header.vti", with([](VtiFile& f) { f.headerType = "UInt16"; }), "header_type UInt16 (UInt32 or UInt64)"},
        {"base64.vti", [&] { std::string b = with([](VtiFile& f) { f.format = "binary"; }); return b.replace(b.find("</DataArray") - 12, 1, "*"); }(), "bad base64"},
        {"appended64.vti", [&] { std::string b = with([](VtiFile& f) { f.encoding = "base64"; }); return b.replace(b.find("   _") + 6, 1, "!"); }(), "bad appended base64"},
        {"components.vti", with([](VtiFile& f) { f.components = "0"; }), "array of 0 components"},
        {"components-huge.vti", with([](VtiFile& f) { f.components = "1e12"; }), "array of 1e12 components"},
        {"type.vti", with([](VtiFile& f) { f.type = "Int64"; }), "unsupported VTK XML type Int64"},
        {"type-bit.vti", with([](VtiFile& f) { f.type = "Bit"; }), "unsupported VTK XML type Bit"},
        {"offset.vti", [&] { std::string b = good; return b.replace(b.find("offset=\"0\""), 10, "offset=\"99\""); }(), "offset 99 past the"},
        {"ascii-few.vti", with([](VtiFile& f) { f.format = "ascii"; }), "bad VTK XML ASCII sample abcdefgh"},
        {"order.vti", with([](VtiFile& f) { f.byteOrder = "Middle"; }), "byte_order Middle"},
        {"several.vti", with([](VtiFile& f) { f.scalars = ""; f.names = {"a", "b"}; }), "point data arrays a, b: pick one with --dataset NAME"},
        {"named.vti", with([](VtiFile& f) { f.scalars = "c"; }), "no point data array c (the file holds values)"},
        {"xml.vti", good.substr(0, good.find("<PointData")), "bad VTK XML file"},
    };
    // clang-format on
    for (const auto& [name, contents, reason] : cases)
        expectFileRefused(name, contents, reason);
}
