// The array readers (NRRD, .npy, TIFF, raw, slice pictures) through their typed sources: every
// sample type as stored, channels and spacing as the files give them, the hostile files they
// refuse with one line, and .npy headers read strictly.
#include "npy.h"
#include "nrrd.h"
#include "raw.h"
#include "scratchdir.h"
#include "pictureslices.h"
#include "testsupport.h"
#include "tiff.h"

#include <QImage>

#include <tiffio.h>

#include <chrono>
#include <cstring>
#include <functional>

namespace {
// A .npy file of the array: "{'descr': DESCR, 'fortran_order': False, 'shape': SHAPE, }".
std::string npy(const std::string& descr, const std::string& shape) {
    return npyFile(1,
                   "{'descr': '" + descr + "', 'fortran_order': False, 'shape': " + shape + ", }");
}

// One TIFF page: samples in slice order (channels, x, then y from 0, the page's bottom row).
struct Page {
    int width = 3, height = 2, channels = 1, bits = 8, format = SAMPLEFORMAT_UINT;
    std::string samples;
    int photometric = PHOTOMETRIC_MINISBLACK;
    bool alpha = false, planar = false, tiled = false;
    int compression = COMPRESSION_NONE;
    std::string description;
};

void writeTiff(const char* path, const std::vector<Page>& pages) {
    TIFF* tiff = TIFFOpen(path, "w");
    ASSERT_TRUE(tiff);
    for (const Page& p : pages) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, p.channels);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, p.format);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                     p.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        if (p.alpha)
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        if (!p.description.empty())
            TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, p.description.c_str());
        if (p.photometric == PHOTOMETRIC_PALETTE) {
            static std::uint16_t map[3][256];
            for (int i = 0; i < 256; ++i)
                map[0][i] = map[1][i] = map[2][i] = std::uint16_t(i * 257);
            TIFFSetField(tiff, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
        }
        const std::size_t bytes = std::size_t(p.bits / 8);
        const std::size_t pixel = bytes * std::size_t(p.channels);
        const std::size_t row = pixel * std::size_t(p.width);
        if (p.tiled) { // one 16 x 16 tile, contiguous channels
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
            std::string tile(16 * 16 * pixel, '\0');
            for (int r = 0; r < p.height; ++r)
                tile.replace(std::size_t(r) * 16 * pixel, row,
                             p.samples.substr(std::size_t(p.height - 1 - r) * row, row));
            TIFFWriteTile(tiff, &tile[0], 0, 0, 0, 0);
        }
        for (int plane = 0; !p.tiled && plane < (p.planar ? p.channels : 1); ++plane)
            for (int r = 0; r < p.height; ++r) {
                std::string line = p.samples.substr(std::size_t(p.height - 1 - r) * row, row);
                if (p.planar) {
                    std::string one;
                    for (int x = 0; x < p.width; ++x)
                        one +=
                            line.substr(std::size_t(x) * pixel + std::size_t(plane) * bytes, bytes);
                    line = one;
                }
                TIFFWriteScanline(tiff, &line[0], std::uint32_t(r), std::uint16_t(plane));
            }
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
}

// Overwrites the compressed data of the first strip or tile of the first page, past its first
// two bytes, with 0xff.
void damageFirstBlock(const char* path) {
    TIFF* tiff = TIFFOpen(path, "r");
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    const bool tiled = TIFFIsTiled(tiff);
    TIFFGetField(tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets);
    TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts);
    const std::uint64_t offset = offsets[0], count = counts[0];
    TIFFClose(tiff);
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    file.seek(qint64(offset + 2));
    file.write(std::string(count - 2, '\xff').c_str(), qint64(count - 2));
}

using Opener = std::function<std::string(const QString&, TypedSource*)>;
const Opener openSlices = [](const QString& path, TypedSource* source) {
    QStringList files;
    const std::string failure = listSliceFiles({path}, &files);
    return failure.empty() ? openSliceSource(files, source) : failure;
};
} // namespace

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
        std::vector<Page> pages(2);
        for (int z = 0; z < 2; ++z) {
            pages[std::size_t(z)].bits = t.bits;
            pages[std::size_t(z)].format = t.format;
            pages[std::size_t(z)].samples =
                host.substr(std::size_t(z) * host.size() / 2, host.size() / 2);
            pages[std::size_t(z)].tiled = z == 1; // strips and tiles in one file
        }
        // The files, each holding the volume; NRRD and .npy in the byte order the host lacks.
        writeFile("raw.nrrd",
                  header + (little ? "big" : "little") + "\nencoding: raw\n\n" + swapped);
        // Two gzip members, as `cat a.gz b.gz` makes.
        writeFile("gzip.nrrd", header + (little ? "little" : "big") + "\nencoding: gzip\n\n" +
                                   gzip(half) + gzip(host.substr(half.size())));
        writeFile("v.npy", npy((little ? ">" : "<") + std::string(t.npy), "(2, 2, 3)") + swapped);
        writeTiff("v.tif", pages);
        const std::pair<const char*, Opener> files[] = {{"raw.nrrd", openNrrdSource},
                                                        {"gzip.nrrd", openNrrdSource},
                                                        {"v.npy", openNpySource},
                                                        {"v.tif", openTiffSource}};
        for (const auto& [name, open] : files) {
            SCOPED_TRACE(name);
            TypedSource source;
            ASSERT_EQ(open(name, &source), "");
            EXPECT_EQ(source.info.type, t.type);
            EXPECT_EQ(source.info.width * 100 + source.info.height * 10 + source.info.depth, 322);
            EXPECT_EQ(source.info.channels, 1);
            std::string samples;
            ASSERT_EQ(readTwice(source, &samples), "");
            EXPECT_EQ(samples, host);
        }
    }
}

TEST(ArraysTest, ChannelsAndSpacingAreReadWhereTheFileGivesThem) {
    ScratchDir dir;
    ensureApplication();
    // Page p of a stack holds 3 x 2 bytes 10p, 10p + 1, ...
    const auto page = [](int p, std::string description = "") {
        Page page;
        for (int i = 0; i < 6; ++i)
            page.samples += char(10 * p + i);
        page.description = std::move(description);
        return page;
    };
    const auto stack = [&](int count, const std::string& description) {
        std::vector<Page> pages;
        for (int p = 0; p < count; ++p)
            pages.push_back(page(p, p == 0 ? description : ""));
        return pages;
    };
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
    Page rgba = page(0);
    rgba.channels = 4;
    rgba.photometric = PHOTOMETRIC_RGB;
    rgba.alpha = rgba.planar = true;
    rgba.samples = std::string("\x01\x02\x03\x04", 4) + std::string(20, '\x05');
    writeTiff("imagej2.tif", stack(4, imageJ));
    writeTiff("imagej5.tif", stack(5, "ImageJ=1.54f\nimages=5\nchannels=5\nslices=1\n"));
    writeTiff("ome.tif", stack(6, ome)); // z fastest
    writeTiff("rgba.tif", {rgba});
    writeFile("rgba.nrrd", "NRRD0004\ntype: uchar\ndimension: 4\nsizes: 4 1 1 1\nkinds: RGBA-color "
                           "domain domain domain\nspacings: nan 0.5 2 3\nencoding: raw\n\n1234");
    writeFile("directions.nrrd", "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 1 1 1\nspace: RAS\n"
                                 "space directions: (0,3,4) (2,0,0) (0,0,0.5)\nencoding: raw\n\nx");
    writeFile("two.npy", npy("|u1", "(1, 1, 1, 2)") + "ab");
    QDir().mkdir("ga");
    QImage greyAlpha(3, 2, QImage::Format_ARGB32);
    greyAlpha.fill(qRgba(7, 7, 7, 9));
    ASSERT_TRUE(greyAlpha.save("ga/a.png") && greyAlpha.save("ga/b.png"));
    // 16-bit pictures keep their values: 100 .. 3415 stays 100 .. 3415.
    QDir().mkdir("wide");
    QImage wide(2, 1, QImage::Format_Grayscale16);
    reinterpret_cast<std::uint16_t*>(wide.scanLine(0))[0] = 100;
    reinterpret_cast<std::uint16_t*>(wide.scanLine(0))[1] = 3415;
    ASSERT_TRUE(wide.save("wide/w.png"));
    struct Case {
        QString path;
        Opener open;
        int channels, depth, alpha;
        double spacing[3];
        std::string samples; // "" leaves them unchecked
    };
    // clang-format off
    const Case cases[] = {
        {"imagej2.tif", openTiffSource, 2, 2, -1, {1, 1, 2.5},
         interleaved(2, 2, [](int c, int z) { return 2 * z + c; })},
        {"imagej5.tif", openTiffSource, 5, 1, -1, {1, 1, 1},
         interleaved(5, 1, [](int c, int) { return c; })},
        {"ome.tif", openTiffSource, 2, 3, -1, {0.25, 0.25, 1.5},
         interleaved(2, 3, [](int c, int z) { return 3 * c + z; })},
        {"rgba.tif", openTiffSource, 4, 1, 3, {1, 1, 1}, rgba.samples},
        {"rgba.nrrd", openNrrdSource, 4, 1, 3, {0.5, 2, 3}, "1234"},
        {"directions.nrrd", openNrrdSource, 1, 1, -1, {5, 2, 0.5}, "x"},
        {"two.npy", openNpySource, 2, 1, 1, {1, 1, 1}, "ab"},
        {"ga", openSlices, 4, 2, 3, {1, 1, 1}, ""},
        {"wide", openSlices, 1, 1, -1, {1, 1, 1}, typedBytes(SampleType::UInt16, {100, 3415})},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        TypedSource source;
        ASSERT_EQ(c.open(c.path, &source), "");
        EXPECT_EQ(source.info.type, c.path == "wide" ? SampleType::UInt16 : SampleType::UInt8);
        EXPECT_EQ(source.info.channels, c.channels);
        EXPECT_EQ(source.info.depth, c.depth);
        EXPECT_EQ(source.info.alphaChannel, c.alpha);
        EXPECT_EQ(source.info.spacingKnown, c.spacing[0] * c.spacing[1] * c.spacing[2] != 1);
        for (int k = 0; k < 3; ++k)
            EXPECT_DOUBLE_EQ(source.info.spacing[k], c.spacing[k]) << k;
        std::string samples;
        ASSERT_EQ(readTwice(source, &samples), "");
        if (!c.samples.empty()) {
            EXPECT_EQ(samples, c.samples);
        }
    }
}

TEST(ArraysTest, HostileFilesAreRefusedInOneLine) {
    ScratchDir dir;
    ensureApplication();
    const std::string nrrd = "NRRD0004\ntype: uchar\ndimension: 3\n";
    std::string keyValues = nrrd + "sizes: 1 1 1\nencoding: raw\n";
    for (int i = 0; i < 200000; ++i)
        keyValues += "k" + std::to_string(i) + ":=v\n";
    writeFile("huge.nrrd", nrrd + "sizes: 100000 100000 1\nencoding: gzip\n\n" + gzip("x"));
    writeFile("claims.nrrd", nrrd + "sizes: 4096 4096 16\nencoding: gzip\n\n" + gzip("x"));
    writeFile("overflow.npy", npy("|u1", "(16, 1073741824, 1073741824)"));
    writeFile("secret", "x");
    writeFile("d/up.nhdr", nrrd + "sizes: 1 1 1\nencoding: raw\ndata file: ../secret\n");
    makeNotAFile("d/fifo", NotAFile::Fifo);
    writeFile("d/fifo.nhdr", nrrd + "sizes: 1 1 1\nencoding: raw\ndata file: fifo\n");
    writeFile("keys.nrrd", keyValues + "\nx");
    // teem refuses it after finding its data, and once closed the gzip stream twice.
    writeFile("kinds.nrrd", "NRRD0004\ntype: uchar\ndimension: 4\nsizes: 6 1 1 1\nencoding: "
                            "gzip\nkinds: RGB-color domain domain domain\n\n" +
                                gzip("abcdef"));
    // Three pages of 4 x 4 grey, the file cut inside the last page's samples.
    std::vector<Page> pages(3);
    for (Page& p : pages) {
        p.width = p.height = 4;
        p.samples.assign(16, 'x');
    }
    writeTiff("cut.tif", pages);
    TIFF* tiff = TIFFOpen("cut.tif", "r");
    TIFFSetDirectory(tiff, 2);
    std::uint64_t* offsets = nullptr;
    TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets);
    const std::uint64_t cut = offsets[0] + 5;
    TIFFClose(tiff);
    ASSERT_EQ(::truncate("cut.tif", off_t(cut)), 0);
    // A palette page in strips and a grey one in a tile, their compressed data damaged.
    for (const bool tiled : {false, true}) {
        Page p;
        p.photometric = tiled ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
        p.tiled = tiled;
        p.width = p.height = tiled ? 16 : 64;
        p.compression = COMPRESSION_ADOBE_DEFLATE;
        for (int i = 0; i < p.width * p.height; ++i)
            p.samples += char(i * 7);
        writeTiff(tiled ? "tiled.tif" : "palette.tif", {p});
        damageFirstBlock(tiled ? "tiled.tif" : "palette.tif");
    }
    writeFile("garbage.tif", "II*\x00 garbage");
    makeNotAFile("f.png", NotAFile::Fifo); // a FIFO as the first slice, and linked to
    writeFile("out/1.png", "");
    ASSERT_TRUE(QFile::link("../f.png", "out/0.png"));
    makeNotAFile("in/f", NotAFile::Fifo);
    ASSERT_TRUE(QFile::link("f", "in/0.png"));
    writeFile("utf/a.png", pngBytes(QImage(1, 1, QImage::Format_RGB888)));
    writeFile("utf/b.png", "");
    ASSERT_EQ(std::rename("utf/b.png", "utf/\xff.png"), 0);
    writeFile("v.raw", std::string(25, 'x'));
    // clang-format off
    const std::tuple<Opener, QString, std::string> cases[] = {
        {openNrrdSource, "huge.nrrd", "huge.nrrd: too large: 100000 x 100000 x 1 samples"},
        {openNrrdSource, "claims.nrrd", "bytes of gzip data can't hold 268435456 bytes of samples"},
        {openNpySource, "overflow.npy", "overflow.npy: too large"},
        {openNrrdSource, "d/up.nhdr", "d/up.nhdr: the data file ../secret is outside"},
        {openNrrdSource, "d/fifo.nhdr", "d/fifo.nhdr: the data file fifo is not a regular file"},
        {openNrrdSource, "keys.nrrd", "keys.nrrd: bad NRRD: more than 1000 key/value lines"},
        {openNrrdSource, "kinds.nrrd", "kinds.nrrd: bad NRRD: axis 0 kind RGB-color requires size 3"},
        {openTiffSource, "cut.tif",
         "cut.tif: file too short or damaged: the directory after page 2 is missing"},
        {openTiffSource, "palette.tif", "palette.tif: page 1: can't decode: "},
        {openTiffSource, "tiled.tif", "tiled.tif: page 1: can't decode: "},
        {openTiffSource, "garbage.tif", "garbage.tif: not a TIFF file: "},
        {openSlices, "f.png", "f.png: can't open input file"},
        {openSlices, "out", "out/0.png: links to a file outside the folder"},
        {openSlices, "in", "in/0.png: not a regular file"},
        {openSlices, "utf", "file name is not valid UTF-8"},
        {openRawVolume, "v.raw", "v.raw: holds 25 bytes, not 3 * N^3 for any N: N = 2 takes 24"},
    };
    // clang-format on
    for (const auto& [open, path, message] : cases) {
        SCOPED_TRACE(path.toStdString());
        TypedSource source;
        const auto start = std::chrono::steady_clock::now();
        std::string failure = open(path, &source), samples;
        if (failure.empty())
            failure = readTwice(source, &samples);
        expectRefusal(failure, "", message);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    std::remove("utf/\xff.png"); // a name Qt can't spell
}

// Beyond Qt's default 128 MB decoding limit: 4100^2 pixels of 16-bit RGBA.
TEST(ArraysTest, SlicesBeyondQtsDecodingLimitAreRead) {
    ScratchDir dir;
    ensureApplication();
    QImage big(4100, 4100, QImage::Format_RGBA64);
    big.fill(Qt::red);
    ASSERT_TRUE(big.save("big.png"));
    TypedSource source;
    ASSERT_EQ(openSliceSource({"big.png"}, &source), "");
    std::vector<unsigned char> slice(std::size_t(sliceBytes(source.info)));
    EXPECT_EQ(source.read(0, slice.data()), "");
}

TEST(NpyTest, HeadersAreReadStrictly) {
    const std::string dict = "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 3, 4, 3), }";
    const auto file = npyFile;
    const std::pair<std::string, std::string> cases[] = {
        {file(1, dict), ""},
        {file(3, "{\"shape\": (2,3,4), \"fortran_order\": False, \"descr\": \"u1\"}"), ""},
        {encodeNpyHeader(7), ""},
        {file(4, dict), "unsupported .npy version 4.0"},
        {"\x93NUMPX" + file(1, dict).substr(6), "not a .npy file"},
        {file(1, "{'descr': '<i8', 'fortran_order': False, 'shape': (2, 3, 4), }"),
         "unsupported .npy dtype '<i8': need uint8, int8, (u)int16, (u)int32, float32 or float64"},
        {file(1, "{'descr': '|u1', 'fortran_order': True, 'shape': (2, 3, 4), }"),
         "unsupported .npy array: Fortran order (save it in C order)"},
        {file(1, "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 3, 4, 4, 1), }"),
         "unsupported .npy shape: not (z, y, x) or (z, y, x, channels)"},
        {file(1, "{'descr': '|u1', 'shape': (2, 3, 4), }"), "bad .npy header"},
        {file(1, dict + " x"), "bad .npy header"},
        {file(1, "{'descr': '|u1', 'descr': '|u1', 'fortran_order': False, 'shape': (1, 1, 1)}"),
         "bad .npy header"},
        {file(1, dict).substr(0, 30), "bad .npy header"},
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
