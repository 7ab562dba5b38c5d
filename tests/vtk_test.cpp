#include "formattable.h"
#include "filerefused.h"
#include "scratchdir.h"
#include "testsupport.h"
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
