#include "formattable.h"
#include "readercheck.h"
#include "npy.h"
#include "pictures/pictureslices.h"
#include "scratchdir.h"
#include "storedsamples.h"
#include "formatsupport.h"
#include "tifffiles.h"

#include <QImage>

#include <tiffio.h>

TEST(ArraysTest, EveryTypeReadsAsStoredInEachFormat) {
    ScratchDir dir;
    ensureApplication();
    struct Type {
        SampleType type;
        const char *nrrd, *npy;
        int bits, format;
        double offset, scale;
    };
    const Type types[] = {
        {SampleType::UInt8, "uchar", "u1", 8, SAMPLEFORMAT_UINT, 0, 20},
        {SampleType::Int8, "signed char", "i1", 8, SAMPLEFORMAT_INT, -5, 10},
        {SampleType::UInt16, "ushort", "u2", 16, SAMPLEFORMAT_UINT, 100, 300},
        {SampleType::Int16, "short", "i2", 16, SAMPLEFORMAT_INT, -5, 3000},
        {SampleType::UInt32, "uint", "u4", 32, SAMPLEFORMAT_UINT, 0, 400000},
        {SampleType::Int32, "int", "i4", 32, SAMPLEFORMAT_INT, -5, 300000},
        {SampleType::Float32, "float", "f4", 32, SAMPLEFORMAT_IEEEFP, -5, 0.25},
        {SampleType::Float64, "double", "f8", 64, SAMPLEFORMAT_IEEEFP, -5, 1e-300},
    };
    const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    for (const Type& t : types) {
        SCOPED_TRACE(sampleTypeName(t.type));
        std::vector<double> values; // 3 x 2 x 2 samples
        for (int i = 0; i < 12; ++i)
            values.push_back((i + t.offset) * t.scale);
        const std::string host = typedBytes(t.type, values),
                          swapped = typedBytes(t.type, values, true);
        const std::string half = host.substr(0, host.size() / 2);
        const std::string header =
            std::string("NRRD0004\ntype: ") + t.nrrd + "\ndimension: 3\nsizes: 3 2 2\nendian: ";
        std::vector<TiffPage> pages(2);
        for (int z = 0; z < 2; ++z) {
            TiffPage& page = pages[std::size_t(z)];
            page.bits = t.bits;
            page.format = t.format;
            page.samples = z == 0 ? half : host.substr(half.size());
            page.tiled = z == 1; // strips and tiles in one file
        }
        // The files, each holding the volume; NRRD and .npy in the byte order the host lacks.
        writeFile("raw.nrrd",
                  header + (little ? "big" : "little") + "\nencoding: raw\n\n" + swapped);
        // Two gzip members, as `cat a.gz b.gz` makes.
        writeFile("gzip.nrrd", header + (little ? "little" : "big") + "\nencoding: gzip\n\n" +
                                   gzip(half) + gzip(host.substr(half.size())));
        writeFile("v.npy",
                  npyFile((little ? ">" : "<") + std::string(t.npy), "(2, 2, 3)") + swapped);
        EXPECT_EQ(writeTiff("v.tif", pages), "");
        for (const char* name : {"raw.nrrd", "gzip.nrrd", "v.npy", "v.tif"}) {
            SCOPED_TRACE(name);
            TypedSource source;
            EXPECT_EQ(packSamples({name}, {}, &source), host);
            EXPECT_EQ(source.info.type, t.type);
            EXPECT_EQ(source.info.width * 100 + source.info.height * 10 + source.info.depth, 322);
            EXPECT_EQ(source.info.channels, 1);
        }
    }
}

namespace {
// A stack of count pages, page p holding 3 x 2 bytes 10p, 10p + 1, ...; the first page also
// holds the text.
std::vector<TiffPage> stack(int count, const std::string& text) {
    std::vector<TiffPage> pages(static_cast<std::size_t>(count));
    for (int p = 0; p < count; ++p)
        for (int i = 0; i < 6; ++i)
            pages[std::size_t(p)].samples += char(10 * p + i);
    pages[0].description = text;
    return pages;
}
} // namespace

TEST(ArraysTest, ChannelsAndSpacingAreReadWhereTheFileGivesThem) {
    ScratchDir dir;
    ensureApplication();
    // The samples of slices whose channel c of slice z is page pageOf(c, z).
    const auto interleaved = [](int channels, int depth, std::function<int(int, int)> pageOf) {
        std::string samples;
        for (int z = 0; z < depth; ++z)
            for (int i = 0; i < 6; ++i)
                for (int c = 0; c < channels; ++c)
                    samples += char(10 * pageOf(c, z) + i);
        return samples;
    };
    const std::string imageJ = "ImageJ=1.54f\nimages=4\nchannels=2\nslices=2\nhyperstack=true\n"
                               "spacing=2.5\nunit=micron\n";
    const std::string ome =
        "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
        "<Image ID=\"Image:0\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"XYZCT\" Type=\"uint8\" "
        "SizeX=\"3\" SizeY=\"2\" SizeZ=\"3\" SizeC=\"2\" SizeT=\"1\" PhysicalSizeX=\"0.25\" "
        "PhysicalSizeY=\"0.25\" PhysicalSizeZ=\"1.5\"/></Image></OME>";
    TiffPage rgba;
    rgba.channels = 4;
    rgba.photometric = PHOTOMETRIC_RGB;
    rgba.alpha = rgba.planar = true;
    rgba.samples = std::string("\x01\x02\x03\x04", 4) + std::string(20, '\x05');
    EXPECT_EQ(writeTiff("imagej2.tif", stack(4, imageJ)), "");
    EXPECT_EQ(writeTiff("imagej5.tif", stack(5, "ImageJ=1.54f\nimages=5\nchannels=5\nslices=1\n")),
              "");
    EXPECT_EQ(writeTiff("ome.tif", stack(6, ome)), ""); // z fastest
    EXPECT_EQ(writeTiff("rgba.tif", {rgba}), "");
    writeFile("rgba.nrrd", "NRRD0004\ntype: uchar\ndimension: 4\nsizes: 4 1 1 1\nkinds: RGBA-color "
                           "domain domain domain\nspacings: nan 0.5 2 3\nencoding: raw\n\n1234");
    writeFile("directions.nrrd", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1 1 1\nspace: RAS\n"
                                 "space directions: (0,3,4) (2,0,0) (0,0,0.5)\nencoding: raw\n\nx");
    writeFile("two.npy", npyFile("|u1", "(1, 1, 1, 2)") + "ab");
    const QImage greyAlpha = filledPicture(3, 2, QColor(7, 7, 7, 9), QImage::Format_ARGB32);
    ASSERT_TRUE(QDir().mkdir("ga") && greyAlpha.save("ga/a.png") && greyAlpha.save("ga/b.png"));
    // 16-bit pictures keep their values: 100 .. 3415 stays 100 .. 3415.
    const std::string wide = typedBytes(SampleType::UInt16, {100, 3415});
    writeFile("wide/w.png", pngBytes(QImage(reinterpret_cast<const uchar*>(wide.data()), 2, 1,
                                            QImage::Format_Grayscale16)));
    struct Case {
        QString path;
        int channels, depth, alpha;
        double spacing[3];
        std::string samples;
    };
    // clang-format off
    const Case cases[] = {
        {"imagej2.tif", 2, 2, -1, {1, 1, 2.5},
         interleaved(2, 2, [](int c, int z) { return 2 * z + c; })},
        {"imagej5.tif", 5, 1, -1, {1, 1, 1},
         interleaved(5, 1, [](int c, int) { return c; })},
        {"ome.tif", 2, 3, -1, {0.25, 0.25, 1.5},
         interleaved(2, 3, [](int c, int z) { return 3 * c + z; })},
        {"rgba.tif", 4, 1, 3, {1, 1, 1}, rgba.samples},
        {"rgba.nrrd", 4, 1, 3, {0.5, 2, 3}, "1234"},
        {"directions.nrrd", 1, 1, -1, {5, 2, 0.5}, "x"},
        {"two.npy", 2, 1, 1, {1, 1, 1}, "ab"},
        {"ga", 4, 2, 3, {1, 1, 1}, QByteArray("\7\7\7\t").repeated(12).toStdString()},
        {"wide", 1, 1, -1, {1, 1, 1}, wide},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        TypedSource source;
        EXPECT_EQ(packSamples({c.path}, {}, &source), c.samples);
        EXPECT_EQ(source.info.type, c.path == "wide" ? SampleType::UInt16 : SampleType::UInt8);
        EXPECT_EQ(source.info.channels, c.channels);
        EXPECT_EQ(source.info.depth, c.depth);
        EXPECT_EQ(source.info.alphaChannel, c.alpha);
        EXPECT_EQ(source.info.spacingKnown, c.spacing[0] * c.spacing[1] * c.spacing[2] != 1);
        for (int k = 0; k < 3; ++k)
            EXPECT_DOUBLE_EQ(source.info.spacing[k], c.spacing[k]) << k;
    }
}

// Time series give the volume --volume picks, and are refused, saying how to pick one, without.
TEST(ArraysTest, TimeSeriesGiveTheVolumePicked) {
    ScratchDir dir;
    ensureApplication();
    // Slices z < 3 of two channels, channel c of slice z being page pageOf(c, z).
    const auto slices = [](std::function<int(int, int)> pageOf) {
        std::string samples;
        for (int z = 0; z < 3; ++z)
            for (int i = 0; i < 6; ++i)
                for (int c = 0; c < 2; ++c)
                    samples += char(10 * pageOf(c, z) + i);
        return samples;
    };
    EXPECT_EQ(writeTiff("imagej.tif",
                        stack(12, "ImageJ=1.54f\nimages=12\nchannels=2\nslices=3\nframes=2\n"
                                  "hyperstack=true\n")),
              "");
    // Time between channels and slices: C varies fastest, then T, then Z.
    EXPECT_EQ(
        writeTiff("ome.tif",
                  stack(12, "<OME><Image><Pixels DimensionOrder=\"XYCTZ\" SizeX=\"3\" SizeY=\"2\" "
                            "SizeZ=\"3\" SizeC=\"2\" SizeT=\"2\"/></Image></OME>")),
        "");
    // Three volumes of 2 x 1 x 2 samples, a list last (Slicer's sequences) or time first.
    const std::string header = "NRRD0004\ntype: uchar\ndimension: 4\nencoding: ";
    writeFile("last.nrrd", header + "raw\nsizes: 2 1 2 3\nkinds: domain domain domain list\n\n" +
                               "abcdefghijkl");
    writeFile("last-gzip.nrrd", header +
                                    "gzip\nsizes: 2 1 2 3\nkinds: domain domain domain "
                                    "time\n\n" +
                                    gzip("abcdefghijkl"));
    writeFile("first.nrrd", header + "raw\nsizes: 3 2 1 2\nkinds: time domain domain domain\n\n" +
                                "abcdefghijkl");
    const std::tuple<QString, std::string, std::string> cases[] = {
        {"imagej.tif", "ImageJ stack of 2 frames: pick one with --volume T (0 to 1)",
         slices([](int c, int z) { return 6 + 2 * z + c; })},
        {"ome.tif", "OME-TIFF of 2 time points: pick one with --volume T (0 to 1)",
         slices([](int c, int z) { return 2 + c + 4 * z; })},
        {"last.nrrd", "NRRD of 3 volumes along its list axis: pick one with --volume T (0 to 2)",
         "efgh"},
        {"last-gzip.nrrd", "NRRD of 3 volumes along its time axis", "efgh"},
        {"first.nrrd", "NRRD of 3 volumes along its time axis", "behk"},
    };
    for (const auto& [path, refusal, second] : cases) {
        SCOPED_TRACE(path.toStdString());
        TypedSource source;
        const std::string unpicked = packSamples({path}, InputSelection(), &source);
        EXPECT_NE(unpicked.find(refusal), std::string::npos) << unpicked;
        EXPECT_EQ(packSamples({path}, InputSelection(-1, 1), &source), second);
        EXPECT_EQ(source.info.depth, path.endsWith(".tif") ? 3 : 2);
        EXPECT_EQ(source.info.channels, path.endsWith(".tif") ? 2 : 1);
        const std::string beyond = packSamples({path}, InputSelection(-1, 9), &source);
        EXPECT_NE(beyond.find("no volume 9: the input holds"), std::string::npos) << beyond;
    }
    // A file of one volume has no other.
    writeFile("one.nrrd", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1 1 1\nencoding: raw\n\nx");
    TypedSource one;
    EXPECT_EQ(packSamples({"one.nrrd"}, InputSelection(-1, 1), &one),
              "one.nrrd: no volume 1: the input holds one");
}

// Beyond Qt's default 128 MB decoding limit: 4100^2 pixels of 16-bit RGBA.
TEST(ArraysTest, SlicesBeyondQtsDecodingLimitAreRead) {
    ScratchDir dir;
    ensureApplication();
    ASSERT_TRUE(filledPicture(4100, 4100, Qt::red, QImage::Format_RGBA64).save("big.png"));
    TypedSource source;
    ASSERT_EQ(openSliceSource({"big.png"}, &source), "");
    std::vector<unsigned char> slice(std::size_t(sliceBytes(source.info)));
    EXPECT_EQ(source.read(0, slice.data()), "");
}

TEST(NpyTest, HeadersAreReadStrictly) {
    const std::string dict = "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 3, 4, 3), }";
    const std::pair<std::string, std::string> cases[] = {
        {npyFile(1, dict), ""},
        {npyFile(3, "{\"shape\": (2,3,4), \"fortran_order\": False, \"descr\": \"u1\"}"), ""},
        {encodeNpyHeader(7), ""},
        {npyFile(4, dict), "unsupported .npy version 4.0"},
        {"\x93NUMPX" + npyFile(1, dict).substr(6), "not a .npy file"},
        {npyFile("<i8", "(2, 3, 4)"),
         "unsupported .npy dtype '<i8': need uint8, int8, (u)int16, (u)int32, float32 or float64"},
        {npyFile(1, "{'descr': '|u1', 'fortran_order': True, 'shape': (2, 3, 4), }"),
         "unsupported .npy array: Fortran order (save it in C order)"},
        {npyFile("|u1", "(2, 3, 4, 4, 1)"),
         "unsupported .npy shape: not (z, y, x) or (z, y, x, channels)"},
        {npyFile(1, "{'descr': '|u1', 'shape': (2, 3, 4), }"), "bad .npy header"},
        {npyFile(1, dict + " x"), "bad .npy header"},
        {npyFile(1, "{'descr': '|u1', 'descr': '|u1', 'fortran_order': False, 'shape': (1, 1, 1)}"),
         "bad .npy header"},
        {npyFile(1, dict).substr(0, 30), "bad .npy header"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        NpyArray array;
        const std::vector<unsigned char> bytes(text.begin(), text.end());
        EXPECT_EQ(parseNpyHeader(bytes, &array), message);
        if (message.empty()) {
            EXPECT_EQ(array.dataOffset, text.size());
            EXPECT_EQ(array.depth * 100 + array.height * 10 + array.width,
                      text == encodeNpyHeader(7) ? 777 : 234);
        }
    }
    EXPECT_EQ(encodeNpyHeader(300).size() % 64, 0u); // NumPy's alignment
}

TEST(NpzTest, TheArrayNamedOrTheOnlyOneReadsStoredOrDeflated) {
    ScratchDir dir;
    ensureApplication();
    const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    const std::pair<std::string, SampleType> dtypes[] = {{"|u1", SampleType::UInt8},
                                                         {"i2", SampleType::Int16},
                                                         {"f4", SampleType::Float32},
                                                         {"f8", SampleType::Float64}};
    for (const auto& [descr, type] : dtypes)
        for (const bool deflated : {false, true}) {
            SCOPED_TRACE(descr + (deflated ? " deflated" : " stored"));
            // In the byte order the host lacks; a second array of another shape beside it.
            const bool wide = descr[0] != '|';
            const std::string order = wide ? (little ? ">" : "<") : "";
            const std::vector<double> values = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
            const std::string array =
                npyFile(order + descr, "(2, 2, 3)") + typedBytes(type, values, wide);
            const std::string other = npyFile("|u1", "(1, 1, 1)") + "x";
            writeFile("one.npz", zipBytes({{"volume.npy", array, deflated}}));
            writeFile("two.npz", zipBytes({{"mask.npy", other}, {"volume.npy", array, deflated}}));
            for (const auto& [path, name] : {std::pair<QString, std::string>{"one.npz", ""},
                                             {"two.npz", "volume"},
                                             {"two.npz", "volume.npy"}}) {
                SCOPED_TRACE(path.toStdString() + " " + name);
                InputSelection selection;
                selection.dataset = name;
                TypedSource source;
                EXPECT_EQ(packSamples({path}, selection, &source), typedBytes(type, values));
                EXPECT_EQ(describe(source.info),
                          std::string(".npz array volume: 3x2x2 ") + sampleTypeName(type) +
                              "*1 alpha -1, spacing 1 1 1 unknown, rows top-down, as "
                              "pictures");
            }
        }
}

TEST(NpzTest, BrokenFilesAreRefusedInOneLineByPackAndInfo) {
    ScratchDir dir;
    ensureApplication();
    const std::string array = npyFile("<i2", "(2, 2, 2)") + std::string(16, 'x');
    std::string damaged = zipBytes({{"a.npy", array}});
    damaged[damaged.find("xxxx")] = 'y'; // its CRC-32 no longer matches
    // clang-format off
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {"several.npz", zipBytes({{"a.npy", array}, {"b.npy", array}}), "", "an .npz of arrays a, b: pick one with --dataset NAME"},
        {"named.npz", zipBytes({{"a.npy", array}, {"b.npy", array}}), "c", "no array 'c' in the .npz (it holds a, b)"},
        {"none.npz", zipBytes({{"a.txt", "text"}}), "", "holds no .npy array"},
        {"short.npz", zipBytes({{"a.npy", array.substr(0, array.size() - 1), true}}), "", "truncated"},
        {"header.npz", zipBytes({{"a.npy", array.substr(0, 20)}}), "", "bad .npy header"},
        {"overflow.npz", zipBytes({{"a.npy", npyFile("|u1", "(16, 1073741824, 1073741824)")}}), "", "too large"},
        {"fortran.npz", zipBytes({{"a.npy", npyFile(1, "{'descr': '|u1', 'fortran_order': True, 'shape': (1, 1, 1), }") + "x"}}), "", "Fortran order"},
        {"damaged.npz", damaged, "", "CRC-32"},
        {"cut.npz", zipBytes({{"a.npy", array}}).substr(0, 40), "", "not a zip file"},
    };
    // clang-format on
    for (const auto& [name, contents, dataset, reason] : cases) {
        SCOPED_TRACE(name);
        writeFile(name, contents);
        InputSelection selection;
        selection.dataset = dataset;
        const ReaderOutcome outcome = checkReader({QString::fromStdString(name)}, selection);
        EXPECT_EQ(outcome.broken, "");
        expectRefusal(outcome.refusal, name, reason);
        QStringList info = {"info", QString::fromStdString(name)};
        if (!dataset.empty())
            info << "--dataset" << QString::fromStdString(dataset);
        expectRefusal(runTool(info), name, reason);
    }
}
