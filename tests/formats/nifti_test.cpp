#include "nifti.h"
#include "formattable.h"
#include "niftifiles.h"
#include "formatsupport.h"
#include "orientation.h"
#include "storedsamples.h"

#include <cstring>
#include <limits>

namespace {
const double nan = std::numeric_limits<double>::quiet_NaN();

TEST(NiftiTest, HostileHeadersAreRefusedAsTheFileHasThem) {
    ScratchDir scratch;
    const std::string voxels(8, '\1');
    const auto with = [&](auto change) { // the bytes of a file with the header changed
        NiftiFile n;
        change(n);
        return niftiBytes(n, voxels);
    };
    // A NIfTI-2 count whose low 16 bits say 3: read as a 16-bit integer it passes.
    std::string wideCount = with([](auto& n) { n.version = 2; });
    const std::int64_t count = (std::int64_t(1) << 56) + 3;
    std::memcpy(&wideCount[offsetof(nifti_2_header, dim)], &count, 8);
    std::string swappedCount = wideCount;
    std::reverse(&swappedCount[offsetof(nifti_2_header, dim)],
                 &swappedCount[offsetof(nifti_2_header, dim) + 8]);
    // A memory bomb: a huge plane in a few hundred bytes.
    const std::string plane = with([](auto& n) { n.dims = {16384, 16384, 3}; });
    const std::string far = with([](auto& n) { n.voxOffset = 1e12; });
    const struct {
        const char* name;
        std::string bytes, what;
    } cases[] = {
        // clang-format off
        {"wide-count.nii", wideCount, "dimension count 72057594037927939"},
        {"swapped-count.nii", swappedCount, "dimension count"},
        {"garbage.nii", std::string(600, '\x55'), "not a NIfTI file"},
        {"short.nii", with([](auto&) {}).substr(0, 200), "not a NIfTI file"},
        {"plane.nii", plane, "file too short"},
        {"plane.nii.gz", gzip(plane), "can't hold"},
        {"offset-far.nii", far, "file too short"},
        {"offset-far.nii.gz", gzip(far), "can't hold"},
        {"offset-nan.nii", with([](auto& n) { n.voxOffset = nan; }), "voxel offset nan"},
        {"offset-huge.nii", with([](auto& n) { n.voxOffset = 1e30; }), "voxel offset 1e+30"},
        {"offset-inside.nii", with([](auto& n) { n.voxOffset = 100; }), "voxel offset 100"},
        {"offset-fraction.nii", with([](auto& n) { n.voxOffset = 352.5; }), "voxel offset"},
        {"offset-inside-2.nii", with([](auto& n) { n.version = 2, n.voxOffset = 348; }),
         "voxel offset 348"},
        {"size-negative.nii", with([](auto& n) { n.dims = {2, -5, 2}; }), "size -5 along axis 2"},
        {"size-zero-2.nii", with([](auto& n) { n.version = 2, n.dims = {0, 2, 2}; }),
         "size 0 along axis 1"},
        {"count-zero.nii", with([](auto& n) { n.dimCount = 0; }), "dimension count 0"},
        {"count-eight.nii", with([](auto& n) { n.dimCount = 8; }), "dimension count 8"},
        {"magic.nii", with([](auto& n) { n.magic = "nx1"; }), "magic"},
        {"pair.nii", with([](auto& n) { n.magic = "ni1"; }), ".hdr/.img"},
        {"complex.nii", with([](auto& n) { n.datatype = DT_COMPLEX64; }), "data type"},
        {"sixth.nii", with([](auto& n) { n.dims = {2, 2, 2, 1, 1, 2}; }), "beyond the fifth"},
        {"intercept.nii", with([](auto& n) { n.slope = 2, n.intercept = nan; }),
         "scale intercept nan"},
        {"rgb-vector.nii", with([](auto& n) { n.datatype = DT_RGB24, n.dims = {1, 1, 1, 1, 2}; }),
         "RGB values with a vector"},
        // clang-format on
    };
    for (const auto& c : cases) // all written before any is read
        writeFile(c.name, c.bytes);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TypedSource source;
        expectRefusal(openPackInput({c.name}, {-1, -1}, &source), c.name + std::string(": "),
                      c.what);
    }
}

// Every type, plain and gzip, NIfTI-1 and -2, little- and big-endian, 4-D and 5-D: each volume
// comes back whole over two passes, with the volume's number on the format line. All files are
// written before any is read: a .nii and a .nii.gz of one name (u8) must each give their own.
TEST(NiftiTest, TypesChannelsAndVolumesComeBackSampleForSample) {
    ScratchDir scratch;
    struct Case {
        const char* name;
        int version;
        bool bigEndian;
        std::vector<std::int64_t> dims;
        int datatype;
        SampleType type;
        int alpha;
    } cases[] = {
        // clang-format off
        {"u8.nii", 1, false, {3, 2, 4}, DT_UINT8, SampleType::UInt8, -1},
        {"u8.nii.gz", 1, false, {2, 3, 2}, DT_UINT8, SampleType::UInt8, -1},
        {"f32.nii", 2, false, {2, 3, 2}, DT_FLOAT32, SampleType::Float32, -1},
        {"f64-vector.nii.gz", 1, false, {2, 2, 3, 1, 2}, DT_FLOAT64, SampleType::Float64, -1},
        {"rgb.nii", 1, false, {2, 3, 2}, DT_RGB24, SampleType::UInt8, -1},
        {"rgba.nii.gz", 1, false, {2, 2, 2}, DT_RGBA32, SampleType::UInt8, 3},
        {"time.nii", 1, false, {3, 2, 2, 3}, DT_UINT8, SampleType::UInt8, -1},
        {"time.nii.gz", 2, false, {2, 3, 2, 4}, DT_INT16, SampleType::Int16, -1},
        {"vector.nii", 1, true, {2, 2, 3, 3, 2}, DT_INT16, SampleType::Int16, -1},
        {"vector.nii.gz", 1, true, {3, 2, 2, 2, 3}, DT_FLOAT32, SampleType::Float32, -1},
        {"vector-only.nii.gz", 2, false, {2, 2, 2, 1, 4}, DT_UINT16, SampleType::UInt16, -1},
        // clang-format on
    };
    // The sizes of a case: w, h, d, volumes, channels.
    const auto sizes = [](const Case& c) {
        std::vector<int> s(c.dims.begin(), c.dims.end());
        s.resize(5, 1);
        s[4] *= c.datatype == DT_RGB24 ? 3 : c.datatype == DT_RGBA32 ? 4 : 1;
        return s;
    };
    // The volumes stacked along z, each channel after the other (or interleaved, as RGB is
    // stored and as the reader gives every volume).
    const auto stacked = [&](const Case& c, bool planar) {
        const std::vector<int> s = sizes(c);
        return typedPattern(c.type, s[0], s[1], s[2] * s[3], s[4], planar);
    };
    for (const Case& c : cases) {
        NiftiFile header;
        header.version = c.version;
        header.bigEndian = c.bigEndian;
        header.dims = c.dims;
        header.datatype = c.datatype;
        header.qformCode = NIFTI_XFORM_SCANNER_ANAT;
        std::string stored = stacked(c, c.alpha < 0 && c.datatype != DT_RGB24);
        if (c.bigEndian)
            swapSampleBytes(c.type, stored.size() / sampleTypeBytes(c.type), &stored[0]);
        ASSERT_EQ(writeNifti(c.name, header, stored), "");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> s = sizes(c);
        const int t = s[3];
        const std::string all = stacked(c, false);
        EXPECT_EQ(niftiVolumeCount(c.name), t);
        TypedSource source;
        if (t > 1) { // and through the converter: info lists them, pack takes the one picked
            const std::string pick = formatString(
                "of %d volumes along its fourth dimension: pick one with --volume T (0 to %d)", t,
                t - 1);
            expectRefusal(openPackInput({c.name}, {-1, -1}, &source), c.name, pick);
            const ToolRun info = runTool({"info", c.name});
            expectRefusal(info, c.name + std::string(": NIfTI "), pick);
            EXPECT_NE(info.out.find(formatString(
                          "NIfTI, %d volumes (pick one with --volume T, 0 to %d)", t, t - 1)),
                      std::string::npos)
                << info.out;
            const ToolRun pack = runTool({"pack", c.name, "--volume", "1", "--pad", "-o", "1.vol"});
            EXPECT_EQ(pack.status, 0) << pack.err;
            EXPECT_EQ(pack.err, "");
        }
        expectRefusal(openPackInput({c.name}, {-1, t}, &source), c.name,
                      formatString("no volume %d: the input holds", t));
        for (int v = 0; v < t; ++v) {
            SCOPED_TRACE(v);
            EXPECT_EQ(packSamples({c.name}, {-1, t > 1 ? v : -1}, &source),
                      all.substr(all.size() / t * v, all.size() / t));
            EXPECT_EQ(describe(source.info),
                      formatString("NIfTI-%d%s%s: %dx%dx%d %s*%d alpha %d, spacing 0.5 0.75 2 "
                                   "known, oriented LAS from the qform (x = -i, y = j, z = k)",
                                   c.version, QString(c.name).endsWith(".gz") ? " (gzip)" : "",
                                   t > 1 ? formatString(", volume %d of %d", v, t).c_str() : "",
                                   s[0], s[1], s[2], sampleTypeName(c.type), s[4], c.alpha));
        }
    }
}

TEST(NiftiTest, CutGzipChannelsFailEveryTimeTheyAreRead) {
    ScratchDir scratch;
    NiftiFile header;
    header.dims = {4, 4, 4, 1, 3};
    const std::string whole = niftiBytes(header, std::string(192, '\3'));
    // Whole gzip streams of less: the third channel missing, then its last slice.
    for (const std::size_t cut : {std::size_t(100), std::size_t(5)}) {
        SCOPED_TRACE(cut);
        writeFile("cut.nii.gz", gzip(whole.substr(0, whole.size() - cut)));
        TypedSource source;
        ASSERT_EQ(openPackInput({"cut.nii.gz"}, {-1, -1}, &source), "");
        std::vector<unsigned char> slice(sliceBytes(source.info));
        for (int pass = 0; pass < 2; ++pass) {
            std::string message;
            for (int z = 0; z < 4 && message.empty(); ++z)
                message = source.read(z, slice.data());
            expectRefusal(message, "cut.nii.gz: ", "file too short");
        }
    }
}

// Channels stored apart that nobody uses are never inflated: a stream cut inside the third
// channel packs its first two, and is refused only where the third is picked.
TEST(NiftiTest, ChannelsNotPickedAreNeverInflated) {
    ScratchDir scratch;
    NiftiFile header;
    header.dims = {4, 4, 4, 1, 3};
    const std::string voxels =
        std::string(64, '\1') + std::string(64, '\2') + std::string(64, '\3');
    const std::string whole = niftiBytes(header, voxels);
    writeFile("cut.nii.gz", gzip(whole.substr(0, whole.size() - 40)));
    TypedSource source;
    ASSERT_EQ(openPackInput({"cut.nii.gz"}, {-1, -1}, &source), "");
    ASSERT_TRUE(source.useChannels);
    source.useChannels({0, 1});
    std::string samples;
    EXPECT_EQ(readTwice(source, &samples), "");
    std::string expected;
    for (int i = 0; i < 64; ++i)
        expected += std::string("\1\2\0", 3);
    EXPECT_EQ(samples, expected);
    const ToolRun two = runTool(
        {"pack", "cut.nii.gz", "-o", "two.vol", "--channels", "0,1,-", "--spacing", "1,1,1"});
    EXPECT_EQ(two.status, 0) << two.err;
    expectRefusal(runTool({"pack", "cut.nii.gz", "-o", "third.vol", "--channels", "2,2,2",
                           "--spacing", "1,1,1"}),
                  "cut.nii.gz: ", "file too short");
}

TEST(NiftiTest, OrientationComesFromTheSformBeforeTheQform) {
    ScratchDir scratch;
    struct Case {
        const char* name;
        int qform, sform;
        double srow[3][4];
        std::string orientation, fileAxes;
    } cases[] = {
        // clang-format off
        {"both.nii", 1, 2, {{-2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, -2, 0}},
         "oriented LAS from the sform (x = i, y = j, z = -k)",
         "i: right to left, j: posterior to anterior, k: superior to inferior"},
        {"qform.nii", 1, 0, {{-2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, -2, 0}},
         "oriented LAS from the qform (x = -i, y = j, z = k)",
         "i: left to right, j: posterior to anterior, k: inferior to superior"},
        {"sform.nii", 0, 4, {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}},
         "oriented LAS from the sform (x = -j, y = i, z = k)",
         "i: posterior to anterior, j: left to right, k: inferior to superior"},
        {"oblique.nii", 0, 1, {{0.9, -0.1, 0, 0}, {0.1, 0.9, 0, 0}, {0, 0, 1, 0}},
         "oriented LAS from the sform (x = -i, y = j, z = k), oblique: axes up to 6.3 degrees off",
         "i: left to right, j: posterior to anterior, k: inferior to superior"},
        {"none.nii", 0, 0, {{-2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, -2, 0}},
         "oriented LAS from the default axes of a header without sform or qform (x = i, y = j, "
         "z = k)", "i: right to left, j: posterior to anterior, k: inferior to superior"},
        // A matrix that places no volume gives way to the next.
        {"singular.nii", 1, 2, {{1, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}},
         "oriented LAS from the qform (x = -i, y = j, z = k)",
         "i: left to right, j: posterior to anterior, k: inferior to superior"},
        {"nan.nii", 0, 2, {{nan, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}},
         "oriented LAS from the default axes of a header without sform or qform (x = i, y = j, "
         "z = k)", "i: right to left, j: posterior to anterior, k: inferior to superior"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NiftiFile header;
        header.qformCode = c.qform;
        header.sformCode = c.sform;
        std::memcpy(header.srow, c.srow, sizeof c.srow);
        ASSERT_EQ(writeNifti(c.name, header, std::string(8, '\0')), "");
        TypedSource source;
        ASSERT_EQ(openPackInput({c.name}, {-1, -1}, &source), "");
        EXPECT_EQ(describeOrientation(source.info), c.orientation);
        EXPECT_EQ(describeFileAxes(source.info.axes), c.fileAxes);
        EXPECT_TRUE(source.info.spacingKnown);
    }
}

// A pair's header and image, named by either, the image plain or gzip: the samples and the
// scaling of .nii, Analyze's in SPM's fields, and Analyze's axes as SPM takes them.
TEST(NiftiTest, PairsAndAnalyzeFilesReadFromEitherName) {
    ScratchDir scratch;
    const std::vector<double> values = {-3, 0, 7, 100, 2, 5, 6, 8};
    struct Kind {
        const char* magic;
        std::string format;
        bool analyze;
        const char* axes;
    };
    const Kind kinds[] = {
        {"ni1", "NIfTI-1 pair", false, "the default axes of a header without sform or qform"},
        {"\0\0\0\0", "Analyze 7.5", true, "Analyze's default axes"}};
    const std::pair<const char*, const char*> pairs[] = {
        {"p.hdr", "p.img"}, {"g.hdr", "g.img.gz"}, {"z.hdr.gz", "z.img.gz"}, {"U.HDR", "U.IMG"}};
    for (const Kind& kind : kinds)
        for (const bool big : {false, true})
            for (const auto& [header, image] : pairs) {
                NiftiFile n;
                n.magic = std::string(kind.magic, 4);
                n.voxOffset = 0;
                n.bigEndian = big;
                n.datatype = DT_INT16;
                n.slope = 2;
                n.intercept = kind.analyze ? nan : 1; // SPM: NaN counts as 0
                const bool hostBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
                ASSERT_EQ(writeNiftiPair(header, image, n,
                                         typedBytes(SampleType::Int16, values, big != hostBig)),
                          "");
                std::vector<double> scaled;
                for (double v : values)
                    scaled.push_back(v * 2 + (kind.analyze ? 0 : 1));
                for (const char* named : {header, image}) {
                    SCOPED_TRACE(kind.format + " " + named + (big ? " big" : " little"));
                    TypedSource source;
                    EXPECT_EQ(packSamples({named}, {}, &source),
                              typedBytes(SampleType::Float32, scaled));
                    const bool gzip = std::string(image).find(".gz") != std::string::npos;
                    EXPECT_EQ(source.info.format, kind.format + (gzip ? " (gzip)" : ""));
                    EXPECT_EQ(source.info.axes.from, kind.axes);
                    EXPECT_EQ(source.files,
                              std::vector<std::string>{named == header ? image : header});
                }
            }
    TypedSource analyze;
    ASSERT_EQ(openPackInput({"p.hdr"}, {-1, -1}, &analyze), "");
    EXPECT_EQ(analyze.info.axes.axis[0][0], -1);
    EXPECT_EQ(analyze.info.axes.axis[1][1], 1);
    EXPECT_EQ(analyze.info.axes.axis[2][2], 1);
    EXPECT_EQ(analyze.info.axes.from, "Analyze's default axes");
}

TEST(NiftiTest, BrokenPairsAreRefusedNamingTheFileAtFault) {
    ScratchDir scratch;
    NiftiFile n;
    n.magic = "ni1";
    n.voxOffset = 0;
    const std::string voxels(8, '\1');
    ASSERT_EQ(writeNiftiPair("short.hdr", "short.img", n, voxels.substr(1)), "");
    ASSERT_EQ(writeNiftiPair("cut.hdr", "cut.img", n, ""), "");
    writeFile("cut.hdr", niftiHeaderBytes(n).substr(0, 300));
    ASSERT_EQ(writeNiftiPair("lone.hdr", "other.img", n, voxels), "");
    writeFile("alone.img", voxels);
    NiftiFile single;
    ASSERT_EQ(writeNiftiPair("single.hdr", "single.img", single, voxels), "");
    n.voxOffset = -8;
    ASSERT_EQ(writeNiftiPair("offset.hdr", "offset.img", n, voxels), "");
    n.voxOffset = 0;
    n.version = 2;
    n.magic = std::string(4, '\0');
    ASSERT_EQ(writeNiftiPair("two.hdr", "two.img", n, voxels), "");
    n = NiftiFile();
    n.magic = std::string(4, '\0');
    n.voxOffset = 0;
    n.dims = {4096, 4096, 400};
    ASSERT_EQ(writeNiftiPair("bomb.hdr", "bomb.img.gz", n, voxels), "");
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"short.hdr", "short.hdr: ", "truncated"},
        {"short.img", "short.img: ", "truncated"},
        {"cut.img", "cut.hdr: ", "not a NIfTI or Analyze header"},
        {"cut.hdr", "cut.hdr: ", "not a NIfTI or Analyze header"},
        {"lone.hdr", "lone.hdr: ", "a .hdr without its .img beside it (lone.img or lone.img.gz)"},
        {"alone.img", "alone.img: ", "a .img without its .hdr beside it"},
        {"single.hdr", "single.hdr: ", "its header is a single file's (rename it .nii)"},
        {"offset.img", "offset.hdr: ", "voxel offset -8"},
        {"two.hdr", "two.hdr: ", "bad NIfTI header: magic"},
        {"bomb.hdr", "bomb.hdr: ", "can't hold"},
    };
    // clang-format on
    for (const auto& [input, named, what] : cases) {
        SCOPED_TRACE(input);
        TypedSource source;
        expectRefusal(packSamples({QString::fromStdString(input)}, {}, &source), named, what);
        expectRefusal(runTool({"info", QString::fromStdString(input)}), named, what);
    }
}

} // namespace
