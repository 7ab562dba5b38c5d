#include "fitsfiles.h"
#include "formattable.h"
#include "filerefused.h"
#include "scratchdir.h"
#include "formatsupport.h"

#include <cmath>

namespace {
const std::string orientation = "spacing 1 1 1 unknown, oriented to the world's axes from FITS's "
                                "axes (row 1 at the bottom) (x = i, y = j, z = k)";

// The cube a test reads: 3 x 2 x 2 values.
FitsHdu cube(int bitpix, const std::vector<double>& stored) {
    FitsHdu hdu;
    hdu.bitpix = bitpix;
    hdu.naxes = {3, 2, 2};
    hdu.stored = stored;
    return hdu;
}

std::string flipped(std::string bytes, std::size_t at) {
    bytes[at] = char(bytes[at] ^ 0x5a);
    return bytes;
}

// The card that is the nth (from 1) named key, its keyword's 8 columns at the result; npos
// where there are fewer.
std::size_t cardAt(const std::string& bytes, const std::string& key, int nth) {
    const std::string name = (key + "        ").substr(0, 8);
    for (std::size_t at = 0; at + 80 <= bytes.size(); at += 80)
        if (bytes.compare(at, 8, name) == 0 && --nth == 0)
            return at;
    return std::string::npos;
}

// The bytes with the value field (columns 11 to 80) of the nth card named key replaced.
std::string cardValue(std::string bytes, const std::string& key, int nth,
                      const std::string& value) {
    const std::size_t at = cardAt(bytes, key, nth);
    if (at != std::string::npos)
        bytes.replace(at + 10, 70, (value + std::string(70, ' ')).substr(0, 70));
    return bytes;
}

std::string cardRenamed(std::string bytes, const std::string& key, int nth) {
    const std::size_t at = cardAt(bytes, key, nth);
    if (at != std::string::npos)
        bytes.replace(at, 8, "HISTORY ");
    return bytes;
}

std::string written(const std::vector<FitsHdu>& hdus) {
    std::string failure;
    const std::string bytes = fitsBytes(hdus, &failure);
    EXPECT_EQ(failure, "");
    return bytes;
}
} // namespace

TEST(FitsTest, EveryBitpixReadsWithItsScaleAndBlanks) {
    ScratchDir dir;
    ensureApplication();
    std::vector<double> bytes, shorts, ints, floats;
    for (int i = 0; i < 12; ++i) {
        bytes.push_back(i * 21 + 3);
        shorts.push_back(i * 5000 - 30000);
        ints.push_back(i * 300000000.0 - 1800000000.0);
        floats.push_back(i * 0.75 - 4);
    }
    const double nan = std::nan("");
    std::vector<double> blanked = shorts, floatsWithNan = floats;
    blanked[4] = -1;
    floatsWithNan[7] = nan;
    const auto map = [](std::vector<double> values, double scale, double zero) {
        for (double& v : values)
            v = v * scale + zero;
        return values;
    };
    std::vector<double> blanks = shorts;
    blanks[4] = nan;
    struct Case {
        const char* label;
        FitsHdu hdu;
        SampleType read;
        std::vector<double> values;
        std::string storedType; // describe()'s type, where not the read type's name
    };
    const auto scaled = [](FitsHdu hdu, double scale, double zero) {
        hdu.scaled = true;
        hdu.bscale = scale;
        hdu.bzero = zero;
        return hdu;
    };
    FitsHdu blank = cube(16, blanked), compressed = cube(16, shorts);
    blank.blankGiven = true;
    blank.blank = -1;
    compressed.compressed = true;
    const Case cases[] = {
        {"8", cube(8, bytes), SampleType::UInt8, bytes, ""},
        {"8 signed", scaled(cube(8, bytes), 1, -128), SampleType::Int8, map(bytes, 1, -128), ""},
        {"16", cube(16, shorts), SampleType::Int16, shorts, ""},
        {"16 unsigned", scaled(cube(16, shorts), 1, 32768), SampleType::UInt16,
         map(shorts, 1, 32768), ""},
        {"32", cube(32, ints), SampleType::Int32, ints, ""},
        {"32 unsigned", scaled(cube(32, ints), 1, 2147483648.0), SampleType::UInt32,
         map(ints, 1, 2147483648.0), ""},
        {"64", cube(64, ints), SampleType::Float64, ints, "int64 (read as float64)"},
        {"-32", cube(-32, floatsWithNan), SampleType::Float32, floatsWithNan, ""},
        {"-64", cube(-64, floats), SampleType::Float64, floats, ""},
        {"16 scaled", scaled(cube(16, shorts), 0.5, 10), SampleType::Float32, map(shorts, 0.5, 10),
         "BITPIX 16 scaled by BSCALE and BZERO (read as float32)"},
        {"32 scaled", scaled(cube(32, ints), 2, -1), SampleType::Float64, map(ints, 2, -1),
         "BITPIX 32 scaled by BSCALE and BZERO (read as float64)"},
        {"16 blank", blank, SampleType::Float32, blanks,
         "BITPIX 16 with BLANK (read as float32, blanks NaN)"},
        {"16 tile-compressed", compressed, SampleType::Int16, shorts, ""},
    };
    for (const Case& c : cases)
        for (const bool gzipped : {false, true}) {
            SCOPED_TRACE(testing::Message() << "BITPIX " << c.label << (gzipped ? " gzip" : ""));
            const std::string name = gzipped ? "v.fits.gz" : "v.fits";
            const std::string file = written({c.hdu});
            writeFile(name, gzipped ? gzip(file) : file);
            TypedSource source;
            EXPECT_EQ(packSamples({QString::fromStdString(name)}, {}, &source),
                      typedBytes(c.read, c.values));
            // cfitsio keeps tiles in a table after an empty primary.
            EXPECT_EQ(describe(source.info),
                      std::string(c.hdu.compressed ? "FITS, HDU 1" : "FITS") + ": 3x2x2 " +
                          sampleTypeName(c.read) + "*1 alpha -1, " + orientation);
            EXPECT_EQ(source.info.storedType, c.storedType);
        }
}

TEST(FitsTest, TheOnlyCubeOrTheHduPickedIsRead) {
    ScratchDir dir;
    ensureApplication();
    const std::vector<double> values = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::string samples = typedBytes(SampleType::Int16, values);
    FitsHdu empty, table, flat = cube(16, values), first = cube(16, values),
                          second = cube(-32, values), deep = cube(16, values),
                          four = cube(16, values);
    empty.naxes = {};
    table.table = true;
    flat.naxes = {6, 2};
    first.name = "SCI";
    second.name = "ERR";
    deep.naxes = {3, 2, 2, 1};
    four.naxes = {3, 2, 1, 2};
    writeFile("one.fits", written({empty, table, first}));
    writeFile("two.fits", written({empty, first, table, second}));
    writeFile("deep.fits", written({deep}));
    writeFile("four.fits", written({four}));
    writeFile("flat.fits", written({flat, table}));
    struct Case {
        std::string file, dataset;
        std::string samples, found; // the format's words, or the refusal
    };
    const Case cases[] = {
        {"one.fits", "", samples, "FITS, HDU 2 (SCI)"},
        {"one.fits", "2", samples, "FITS, HDU 2 (SCI)"},
        {"two.fits", "", "",
         "a FITS file of several cubes, HDU 1 (SCI) 3-D 3 x 2 x 2, HDU 3 (ERR) 3-D 3 x 2 x 2: "
         "pick one with --dataset N"},
        {"two.fits", "3", typedBytes(SampleType::Float32, values), "FITS, HDU 3 (ERR)"},
        {"two.fits", "SCI", samples, "FITS, HDU 1 (SCI)"},
        {"two.fits", "0", "", "HDU 0 empty is not a cube"},
        {"two.fits", "2", "", "HDU 2 (TABLE) a table is not a cube"},
        {"two.fits", "9", "",
         "no HDU 9 (the file holds HDU 0 empty, HDU 1 (SCI) 3-D 3 x 2 x 2, HDU 2 (TABLE) a "
         "table, HDU 3 (ERR) 3-D 3 x 2 x 2): --dataset takes an HDU number from 0 or an EXTNAME"},
        {"deep.fits", "", samples, "FITS"},
        {"four.fits", "", "", "no 3-D image (the file holds HDU 0 4-D 3 x 2 x 1 x 2)"},
        {"flat.fits", "", "",
         "no 3-D image (the file holds HDU 0 2-D 6 x 2, HDU 1 (TABLE) a table): pack reads FITS "
         "cubes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + c.dataset);
        InputSelection selection;
        selection.dataset = c.dataset;
        TypedSource source;
        const std::string read = packSamples({QString::fromStdString(c.file)}, selection, &source);
        if (c.samples.empty()) {
            expectRefusal(read, c.file + ": ", c.found);
            continue;
        }
        EXPECT_EQ(read, c.samples);
        EXPECT_EQ(source.info.format, c.found);
    }
    const ToolRun info = runTool({"info", "two.fits"});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("HDU 3 (ERR) 3-D 3 x 2 x 2 (pick one with --dataset N)"),
              std::string::npos)
        << info.out;
}

TEST(FitsTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const std::string good = written({cube(-32, std::vector<double>(12, 1.5))});
    const std::string header = good.substr(0, 2880);
    FitsHdu tiled = cube(16, std::vector<double>(12, 3));
    tiled.compressed = true;
    const std::string compressed = written({tiled});
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"cut.fits", good.substr(0, 2880 + 40), "file too short: HDU 0 3-D 3 x 2 x 2 claims 48 bytes of samples after byte 2880, the file holds 2920 bytes"},
        {"header.fits", header.substr(0, 2000), "damaged FITS header in HDU 0: the header has no END card before the file ends"},
        {"nobitpix.fits", cardRenamed(good, "BITPIX", 1), "damaged FITS header in HDU 0: BITPIX is missing"},
        {"axis.fits", cardValue(good, "NAXIS2", 1, "'two'"), "damaged FITS header in HDU 0: NAXIS2 is not an integer"},
        {"huge.fits", setFitsCard(setFitsCard(good, "NAXIS1", "2000000000"), "NAXIS2", "2000000000"), "too large"},
        {"wide.fits", setFitsCard(good, "NAXIS1", "100000"), "file too short: HDU 0 3-D 100000 x 2 x 2 claims 1600000 bytes"},
        {"empty.fits", setFitsCard(good, "NAXIS3", "0"), "HDU 0 3-D 3 x 2 x 0 holds no samples"},
        {"zero.fits", setFitsCard(good.substr(0, 2880), "NAXIS3", "0"), "HDU 0 3-D 3 x 2 x 0 holds no samples"},
        {"bitpix.fits", setFitsCard(good, "BITPIX", "12"), "BITPIX"},
        {"text.fits", "SIMPLE? no, a note\n", "not a FITS file: no SIMPLE = T card at its start"},
        {"cut.fits.gz", gzip(good).substr(0, 30), "damaged gzip data"},
        {"half.fits.gz", gzip(good).substr(0, gzip(good).size() / 2), "damaged gzip data"},
        {"trailer.fits.gz", gzip(good).substr(0, gzip(good).size() - 4), "damaged gzip data"},
        {"crc.fits.gz", flipped(gzip(good), gzip(good).size() - 6), "damaged gzip data"},
        {"text.fits.gz", gzip(std::string(3000, 'x')), "not a FITS file: the gzip data holds no SIMPLE"},
        {"short.fits.gz", gzip(good.substr(0, 2880 + 40)), "file too short: HDU 0 3-D 3 x 2 x 2 claims 48 bytes of samples after byte 2880, the file holds 2920 bytes"},
        {"tile.fits", cardValue(compressed, "ZTILE1", 1, "0"), "damaged FITS header in HDU 1: ZTILE1 = 0 is out of range"},
        {"zbitpix.fits", cardValue(compressed, "ZBITPIX", 1, "04"), "damaged FITS header in HDU 1: ZBITPIX = 4 is not a FITS sample size"},
        {"blocksize.fits", cardValue(compressed, "ZVAL1", 1, "0 32"), "damaged FITS header in HDU 1: BLOCKSIZE: ZVAL1 is not an integer"},
        {"blockzero.fits", cardValue(compressed, "ZVAL1", 1, "0"), "damaged FITS header in HDU 1: BLOCKSIZE: ZVAL1 = 0 is out of range"},
        {"tiles.fits", compressed.substr(0, compressed.size() - 2880), "file too short: the compressed image's table of tiles runs past the file's end"},
        {"descriptor.fits", fileBytes(QString::fromStdString(sourceDir() + "/fuzz/corpus/fits/regression-tile-descriptor")), "file too short: tile 4 of the compressed image claims 4294903813 bytes"},
        {"compress.fits", std::string("\x1f\x9d\x90", 3) + good, "not a FITS file: no SIMPLE"},
    };
    // clang-format on
    for (const auto& [name, contents, reason] : cases)
        expectFileRefused(name, contents, reason);
}

// A later HDU whose header is not sound ends the list before cfitsio moves to it, and the
// cube before it still reads; blanks after the last HDU are no damage.
TEST(FitsTest, AnUnsoundLaterHeaderIsLeftOutWithANote) {
    ScratchDir dir;
    ensureApplication();
    FitsHdu table;
    table.table = true;
    const std::string good = written({cube(16, std::vector<double>(12, 7)), table});
    struct Case {
        std::string name, bytes, note;
    };
    const Case cases[] = {
        {"rows.fits", cardValue(good, "NAXIS2", 2, "TFORM1  = '1J'"),
         "damaged FITS header in HDU 1: NAXIS2 is not an integer"},
        {"fields.fits", cardValue(good, "TFIELDS", 1, "1000"),
         "damaged FITS header in HDU 1: TFIELDS = 1000 is out of range"},
        {"huge.fits", cardValue(good, "NAXIS2", 2, "9223372036854775807"),
         "damaged FITS header in HDU 1: too large: its sizes pass what a file can hold"},
        {"wrapped.fits", cardValue(good, "NAXIS2", 2, "99999999999999999999"),
         "damaged FITS header in HDU 1: NAXIS2 is out of range"},
        {"padded.fits", good + std::string(2880, '\0'), ""},
        {"junk.fits", good + std::string(2880, 'x'),
         "damaged FITS header in HDU 2: the first card is not XTENSION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(c.name, c.bytes);
        TypedSource source;
        EXPECT_EQ(packSamples({QString::fromStdString(c.name)}, {}, &source),
                  typedBytes(SampleType::Int16, std::vector<double>(12, 7)));
        EXPECT_EQ(source.info.note, c.note.empty() ? "" : "left out what follows: " + c.note);
    }
}

TEST(FitsTest, AGzipFileOfOneOrSeveralMembersPacksAsThePlainFile) {
    ScratchDir dir;
    ensureApplication();
    std::vector<double> values;
    for (int i = 0; i < 12; ++i)
        values.push_back(i * 3 - 7);
    const std::string plain = written({cube(-32, values)});
    writeFile("plain.fits", plain);
    TypedSource reference;
    const std::string samples = packSamples({"plain.fits"}, {}, &reference);
    ASSERT_EQ(samples, typedBytes(SampleType::Float32, values));
    const std::pair<const char*, std::string> cases[] = {
        {"one member", gzip(plain)},
        {"two members", gzip(plain.substr(0, 2880)) + gzip(plain.substr(2880))},
        {"members in the header", gzip(plain.substr(0, 100)) + gzip(plain.substr(100))},
    };
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        writeFile("v.fits.gz", bytes);
        TypedSource source;
        EXPECT_EQ(packSamples({"v.fits.gz"}, {}, &source), samples);
        EXPECT_EQ(describe(source.info), describe(reference.info));
        EXPECT_EQ(source.memory, plain.size());
    }
}

TEST(FitsTest, SpacingIsTheLengthOfEachColumnOfTheWcsMatrix) {
    ScratchDir dir;
    ensureApplication();
    using Cards = std::vector<std::pair<std::string, std::string>>;
    const Cards celestial = {{"CTYPE1", "'RA---TAN'"}, {"CTYPE2", "'DEC--TAN'"}};
    const auto with = [](Cards cards, const Cards& more) {
        cards.insert(cards.end(), more.begin(), more.end());
        return cards;
    };
    struct Case {
        const char* label;
        Cards cards;
        std::string spacing; // x y z, "?" for an axis unknown, then the unit
        std::string note;
    };
    const Case cases[] = {
        {"none", {}, "? ? ? ", ""},
        {"CDELT", {{"CDELT1", "0.5"}, {"CDELT2", "-0.25"}, {"CDELT3", "2"}}, "0.5 0.25 2 ", ""},
        {"CDELT of two axes", {{"CDELT1", "0.5"}, {"CDELT2", "0.5"}}, "0.5 0.5 ? ", ""},
        {"celestial and length",
         with(celestial,
              {{"CDELT1", "-1e-3"}, {"CDELT2", "1e-3"}, {"CDELT3", "2"}, {"CUNIT3", "'m'"}}),
         "? ? ? ", "the world axes' units differ: deg, deg, m"},
        {"celestial and frequency",
         with(celestial, {{"CDELT1", "1"},
                          {"CDELT2", "1"},
                          {"CDELT3", "1e6"},
                          {"CTYPE3", "'FREQ'"},
                          {"CUNIT3", "'Hz'"}}),
         "? ? ? ", "the world axes' units differ: deg, deg, Hz"},
        {"celestial and unnamed",
         with(celestial, {{"CDELT1", "1"}, {"CDELT2", "1"}, {"CDELT3", "1"}}), "? ? ? ",
         "the world axes' units differ: deg, deg, none"},
        {"CD rotated",
         {{"CD1_1", "0.6"},
          {"CD2_1", "0.8"},
          {"CD1_2", "-1.6"},
          {"CD2_2", "1.2"},
          {"CD3_3", "3"},
          {"CUNIT1", "'arcsec'"},
          {"CUNIT2", "'arcsec'"},
          {"CUNIT3", "'arcsec'"}},
         "1 2 3 arcsec",
         ""},
        {"CD without z", {{"CD1_1", "2"}, {"CD2_2", "2"}}, "2 2 ? ", ""},
        {"PC mixing axes of different CDELT and units",
         {{"CDELT1", "3"},
          {"CDELT2", "0.05"},
          {"CDELT3", "0.1"},
          {"PC1_2", "0.5"},
          {"CUNIT1", "'arcmin'"},
          {"CUNIT2", "'deg'"},
          {"CUNIT3", "'deg'"}},
         "0.05 0.0559017 0.1 deg",
         ""},
        {"PC before CD",
         {{"CDELT1", "4"}, {"PC1_1", "1"}, {"CD1_1", "9"}, {"CDELT2", "4"}, {"CDELT3", "4"}},
         "4 4 4 ",
         ""},
        {"lengths",
         {{"CDELT1", "1"},
          {"CDELT2", "1"},
          {"CDELT3", "0.5"},
          {"CUNIT1", "'mm'"},
          {"CUNIT2", "'mm'"},
          {"CUNIT3", "'cm'"}},
         "0.001 0.001 0.005 m",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FitsHdu hdu = cube(16, {});
        hdu.cards = c.cards;
        writeFile("v.fits", written({hdu}));
        TypedSource source;
        packSamples({"v.fits"}, {}, &source);
        const VolumeInfo& info = source.info;
        std::string spacing;
        for (int k = 0; k < 3; ++k)
            spacing += info.axisSpacingKnown[k] ? formatString("%g ", info.spacing[k]) : "? ";
        EXPECT_EQ(spacing + info.spacingUnit, c.spacing);
        EXPECT_EQ(info.spacingKnown, c.spacing.find('?') == std::string::npos);
        EXPECT_EQ(info.spacingNote, c.note);
    }
}
