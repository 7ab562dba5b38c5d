// The NIfTI, DICOM and MetaImage readers: files written with the libraries' own writers (or
// byte by byte for MetaImage) come back with their sizes, types, channels, spacing and every
// sample, over two passes; bad files are refused with one line naming the file.
#include "dicomfiles.h"
#include "dicom.h"
#include "metaimage.h"
#include "nifti.h"
#include "formattable.h"
#include "samplemap.h"
#include "testsupport.h"
#include "storedsamples.h"

#include <nifti2_io.h>
#include <zlib.h>

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

namespace {
// A sample value that differs at every position and channel, within every type's range.
double valueAt(int x, int y, int z, int c) {
    return x + 4 * y + 16 * z + 64 * c;
}

// Samples of the given type in host order, x fastest then y then z, channels interleaved (or
// each channel a volume after the other, as NIfTI's vector dimension stores them), each
// valueAt * slope + intercept.
std::string pattern(SampleType type, int w, int h, int d, int ch, bool planar = false,
                    double slope = 1, double intercept = 0) {
    std::vector<double> values;
    for (int i = 0; i < w * h * d * ch; ++i) {
        const int c = planar ? i / (w * h * d) : i % ch, voxel = planar ? i % (w * h * d) : i / ch;
        values.push_back(valueAt(voxel % w, voxel / w % h, voxel / (w * h), c) * slope + intercept);
    }
    return typedBytes(type, values);
}

// --- NIfTI ---

struct NiftiFree {
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};

void writeNifti(const char* name, int datatype, const std::vector<int>& sizes,
                const std::string& data, int version = 1) {
    std::int64_t dims[8] = {std::int64_t(sizes.size()), 1, 1, 1, 1, 1, 1, 1};
    for (std::size_t k = 0; k < sizes.size(); ++k)
        dims[k + 1] = sizes[k];
    std::unique_ptr<nifti_image, NiftiFree> image(nifti_make_new_nim(dims, datatype, 1));
    ASSERT_TRUE(image);
    ASSERT_EQ(std::size_t(image->nvox) * std::size_t(image->nbyper), data.size());
    std::memcpy(image->data, data.data(), data.size());
    image->pixdim[1] = image->dx = 0.5;
    image->pixdim[2] = image->dy = 0.75;
    image->pixdim[3] = image->dz = 2;
    // An identity qform: i runs left to right, j posterior to anterior, k up.
    image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    image->quatern_b = image->quatern_c = image->quatern_d = 0;
    image->qfac = 1;
    ASSERT_EQ(nifti_set_filenames(image.get(), name, 0, 1), 0);
    if (version == 1) {
        nifti_image_write(image.get());
    } else {
        // The library's writer keeps to NIfTI-1 for a .nii name: the NIfTI-2 header it makes is
        // written here, then the 4 bytes that say "no extensions", then the voxels.
        nifti_2_header header;
        image->nifti_type = NIFTI_FTYPE_NIFTI2_1; // one file: the magic "n+2"
        ASSERT_EQ(nifti_convert_nim2n2hdr(image.get(), &header), 0);
        header.vox_offset = sizeof header + 4;
        const bool packed = QString(name).endsWith(".gz");
        gzFile file = gzopen(name, packed ? "wb" : "wbT");
        const char none[4] = {};
        gzwrite(file, &header, sizeof header);
        gzwrite(file, none, 4);
        gzwrite(file, data.data(), unsigned(data.size()));
        gzclose(file);
    }
    ASSERT_TRUE(QFileInfo::exists(name)) << name;
}

// All files are written before any is read: a .nii and a .nii.gz of one name (u8) must each
// give their own voxels.
TEST(NiftiTest, TypesChannelsAndFormsComeBackSampleForSample) {
    ScratchDir scratch;
    struct Case {
        const char* name;
        int datatype, version;
        std::vector<int> sizes;
        SampleType type;
        int channels, alpha;
        const char* format;
    } cases[] = {
        // clang-format off
        {"u8.nii", DT_UINT8, 1, {3, 2, 4}, SampleType::UInt8, 1, -1, "NIfTI-1"},
        {"u8.nii.gz", DT_UINT8, 1, {2, 3, 2}, SampleType::UInt8, 1, -1, "NIfTI-1 (gzip)"},
        {"i16.nii.gz", DT_INT16, 1, {3, 2, 4}, SampleType::Int16, 1, -1, "NIfTI-1 (gzip)"},
        {"f32.nii", DT_FLOAT32, 2, {2, 3, 2}, SampleType::Float32, 1, -1, "NIfTI-2"},
        {"u16.nii.gz", DT_UINT16, 2, {2, 2, 3}, SampleType::UInt16, 1, -1, "NIfTI-2 (gzip)"},
        {"f64-vector.nii.gz", DT_FLOAT64, 1, {2, 2, 3, 1, 2}, SampleType::Float64, 2, -1,
         "NIfTI-1 (gzip)"},
        {"rgb.nii", DT_RGB24, 1, {2, 3, 2}, SampleType::UInt8, 3, -1, "NIfTI-1"},
        {"rgba.nii.gz", DT_RGBA32, 1, {2, 2, 2}, SampleType::UInt8, 4, 3, "NIfTI-1 (gzip)"},
        // clang-format on
    };
    for (const Case& c : cases) {
        const int w = c.sizes[0], h = c.sizes[1], d = c.sizes[2];
        writeNifti(c.name, c.datatype, c.sizes,
                   pattern(c.type, w, h, d, c.channels, c.sizes.size() == 5), c.version);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int w = c.sizes[0], h = c.sizes[1], d = c.sizes[2];
        TypedSource source;
        ASSERT_EQ(openPackInput({c.name}, {-1, -1}, &source), "");
        EXPECT_EQ(describe(source.info),
                  formatString("%s: %dx%dx%d %s*%d alpha %d, spacing 0.5 0.75 2 known, x: left to "
                               "right, y: posterior to anterior, z: inferior to superior (from "
                               "the qform)",
                               c.format, w, h, d, sampleTypeName(c.type), c.channels, c.alpha));
        std::string samples;
        ASSERT_EQ(readTwice(source, &samples), "");
        EXPECT_EQ(samples, pattern(c.type, w, h, d, c.channels));
    }
}

// --- MetaImage ---

std::string metaHeader(const std::string& type, const std::string& extra,
                       const std::string& dataFile, const char* sizes = "3 2 4") {
    return "ObjectType = Image\nNDims = 3\nDimSize = " + std::string(sizes) +
           "\nElementType = " + type + "\nElementSpacing = 0.5 1 2.5\n" + extra +
           "ElementDataFile = " + dataFile + "\n";
}

std::string zlibBytes(const std::string& bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(bytes.data()),
             uLong(bytes.size()));
    out.resize(size);
    return out;
}

TEST(MetaImageTest, LocalSeparateCompressedAndBigEndianDataComeBack) {
    ScratchDir scratch;
    const std::string u8 = (pattern(SampleType::UInt8, 3, 2, 4, 1));
    const std::string i16 = (pattern(SampleType::Int16, 3, 2, 4, 1));
    const std::string f32 = (pattern(SampleType::Float32, 3, 2, 4, 2));
    std::string i16Swapped = i16;
    swapSampleBytes(SampleType::Int16, i16.size() / 2, &i16Swapped[0]);
    writeFile("u8.mha", metaHeader("MET_UCHAR", "AnatomicalOrientation = RAI\n", "LOCAL") + u8);
    writeFile("data/i16.raw", i16Swapped);
    writeFile("i16.mhd",
              metaHeader("MET_SHORT", "BinaryDataByteOrderMSB = True\n", "data/i16.raw"));
    const std::string packed = zlibBytes(f32);
    writeFile("f32.mha", metaHeader("MET_FLOAT",
                                    "ElementNumberOfChannels = 2\nCompressedData = True\n"
                                    "CompressedDataSize = " +
                                        std::to_string(packed.size()) + "\n",
                                    "LOCAL") +
                             packed);
    writeFile("tail.raw", "some leading bytes" + u8);
    writeFile("tail.mhd", metaHeader("MET_UCHAR", "HeaderSize = -1\n", "tail.raw"));
    const std::string found = "%s: 3x2x4 %s alpha -1, spacing 0.5 1 2.5 known, %s";
    struct Case {
        const char* name;
        const std::string& expected;
        std::string description;
    } cases[] = {
        {"u8.mha", u8,
         formatString(found.c_str(), "MetaImage", "uint8*1",
                      "x: right to left, y: anterior to posterior, z: inferior to superior")},
        {"i16.mhd", i16, formatString(found.c_str(), "MetaImage", "int16*1", "")},
        {"f32.mha", f32, formatString(found.c_str(), "MetaImage (zlib)", "float32*2", "")},
        {"tail.mhd", u8, formatString(found.c_str(), "MetaImage", "uint8*1", "")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypedSource source;
        ASSERT_EQ(openPackInput({c.name}, {}, &source), "");
        EXPECT_EQ(describe(source.info), c.description);
        std::string samples;
        ASSERT_EQ(readTwice(source, &samples), "");
        EXPECT_EQ(samples, c.expected);
    }
}

// --- DICOM ---

// A series of depth slices at z = 3k, written under shuffled file names into folder.
std::string writeSeries(const std::string& folder, int depth, DicomSlice slice,
                        const std::vector<double>& positions = {}) {
    QDir().mkpath(QString::fromStdString(folder));
    const std::string all = pattern(SampleType::Int16, slice.columns, slice.rows, depth, 1);
    const std::size_t bytes = all.size() / std::size_t(depth);
    std::vector<int> names(static_cast<std::size_t>(depth));
    std::iota(names.begin(), names.end(), 0);
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    for (int k = 0; k < depth; ++k) {
        slice.z = positions.empty() ? 3.0 * k : positions[std::size_t(k)];
        slice.pixels = all.substr(bytes * std::size_t(k), bytes);
        writeDicom(folder + "/img" + std::to_string(names[std::size_t(k)]) + ".dcm", slice);
    }
    return all;
}

TEST(DicomTest, ASeriesIsOrderedByPositionNotByName) {
    ScratchDir scratch;
    const std::string expected = writeSeries("ct", 5, DicomSlice());
    writeFile("ct/notes.txt", "not DICOM");
    TypedSource source;
    ASSERT_EQ(openPackInput({"ct"}, {}, &source), "");
    EXPECT_EQ(describe(source.info), "DICOM series: 3x2x5 int16*1 alpha -1, spacing 0.5 0.25 3 "
                                     "known, x: right to left, y: anterior to posterior, z: "
                                     "inferior to superior");
    EXPECT_TRUE(source.concurrent);
    std::string samples;
    ASSERT_EQ(readTwice(source, &samples), "");
    EXPECT_EQ(samples, expected);
}

// Packs input's samples as they are stored and as the reader converts them (the same source
// without its stored layout): the same range and the same bytes, through a full and a narrow
// window.
void expectStoredPacksAsConverted(const char* input, bool asStored) {
    SCOPED_TRACE(input);
    TypedSource source;
    ASSERT_EQ(openPackInput({input}, {}, &source), "");
    EXPECT_EQ(mapsStored(source), asStored);
    TypedSource converted = source, kept;
    converted.stored = nullptr;
    converted.readStored = nullptr;
    ChannelMap map;
    double lo = 0, hi = 0, convertedLo = 0, convertedHi = 0;
    ASSERT_EQ(sampleRange(source, map, &lo, &hi, &kept), "");
    ASSERT_EQ(sampleRange(converted, map, &convertedLo, &convertedHi), "");
    EXPECT_EQ(lo, convertedLo);
    EXPECT_EQ(hi, convertedHi);
    for (const SampleWindow window :
         {SampleWindow{false, lo, hi},
          SampleWindow{false, lo + (hi - lo) / 7, hi - (hi - lo) / 3}}) {
        const SliceSource packed = mapToRgb(kept, map, window);
        const SliceSource expected = mapToRgb(converted, map, window);
        std::vector<unsigned char> slice(3 * std::size_t(packed.width) *
                                         std::size_t(packed.height));
        std::vector<unsigned char> expectedSlice(slice.size());
        for (int z = 0; z < packed.depth; ++z) {
            ASSERT_EQ(packed.read(z, slice.data()), "");
            ASSERT_EQ(expected.read(z, expectedSlice.data()), "");
            EXPECT_EQ(slice, expectedSlice) << "slice " << z;
        }
    }
}

TEST(DicomTest, SamplesLookedUpAsStoredPackAsTheConvertedOnes) {
    ScratchDir scratch;
    DicomSlice slice;
    slice.columns = 40;
    slice.rows = 30;
    writeSeries("plain", 6, slice);
    slice.slope = 0.37;
    slice.intercept = -1024.5;
    writeSeries("scaled", 6, slice);
    // Each file its own rescale: converted file by file.
    for (int k = 0; k < 4; ++k) {
        slice.z = 3.0 * k;
        slice.slope = 1 + k;
        slice.pixels = pattern(SampleType::Int16, slice.columns, slice.rows, 1, 1, false, 1, k);
        writeDicom("mixed/" + std::to_string(k) + ".dcm", slice);
    }
    // A rescaled .nii.gz.
    const std::int64_t dims[8] = {3, 40, 30, 5, 1, 1, 1, 1};
    std::unique_ptr<nifti_image, NiftiFree> image(nifti_make_new_nim(dims, DT_INT16, 1));
    const std::string values = pattern(SampleType::Int16, 40, 30, 5, 1, false, 37, -9000);
    std::memcpy(image->data, values.data(), values.size());
    image->scl_slope = 0.25f;
    image->scl_inter = 3;
    nifti_set_filenames(image.get(), "scaled.nii.gz", 0, 1);
    nifti_image_write(image.get());
    expectStoredPacksAsConverted("plain", false);
    expectStoredPacksAsConverted("scaled", true);
    expectStoredPacksAsConverted("mixed", false);
    expectStoredPacksAsConverted("scaled.nii.gz", true);
}

TEST(DicomTest, RescaleGivesFloatsAndMultiFrameFilesAreVolumes) {
    ScratchDir scratch;
    DicomSlice slice;
    slice.slope = 2;
    slice.intercept = -1024;
    writeSeries("scaled", 3, slice);
    TypedSource source;
    ASSERT_EQ(openPackInput({"scaled"}, {}, &source), "");
    EXPECT_EQ(source.info.type, SampleType::Float32);
    std::string samples;
    ASSERT_EQ(readTwice(source, &samples), "");
    EXPECT_EQ(samples, pattern(SampleType::Float32, 3, 2, 3, 1, false, 2, -1024));

    DicomSlice frames;
    frames.frames = 4;
    frames.format = gdcm::PixelFormat::UINT8;
    frames.pixels = pattern(SampleType::UInt8, 3, 2, 4, 1);
    writeDicom("multi.dcm", frames);
    ASSERT_EQ(openPackInput({"multi.dcm"}, {}, &source), "");
    EXPECT_EQ(source.info.depth, 4);
    EXPECT_EQ(source.info.type, SampleType::UInt8);
    ASSERT_EQ(readTwice(source, &samples), "");
    EXPECT_EQ(samples, frames.pixels);
}

TEST(DicomTest, SeveralSeriesAreCountedListedAndPicked) {
    ScratchDir scratch;
    DicomSlice second;
    second.uid = "1.2.826.0.1.3680043.2.1125.2";
    second.columns = 4;
    writeSeries("two", 3, DicomSlice());
    const std::string expected = writeSeries("two/b", 2, second);
    for (const QString& name : QDir("two/b").entryList(QDir::Files))
        ASSERT_TRUE(QFile::rename("two/b/" + name, "two/b-" + name));
    TypedSource source;
    expectRefusal(openPackInput({"two"}, {}, &source), "two", "2 DICOM series");
    std::vector<DicomSeriesSummary> list;
    ASSERT_EQ(listDicomSeries("two", &list), "");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].uid, second.uid);
    EXPECT_EQ(list[1].slices, 2);
    EXPECT_EQ(list[1].width, 4);
    EXPECT_EQ(list[0].description, "test series");
    ASSERT_EQ(openPackInput({"two"}, {1, -1}, &source), "");
    std::string samples;
    ASSERT_EQ(readTwice(source, &samples), "");
    EXPECT_EQ(samples, expected);
    expectRefusal(openPackInput({"two"}, {2, -1}, &source), "two", "no DICOM series 2");
}

// Each reader refuses its hostile files in one line that names the file: on opening, or for a
// damaged compressed stream while reading.
TEST(ReadersTest, HostileFilesAreRefusedWithOneLine) {
    ScratchDir scratch;
    writeNifti("time.nii", DT_UINT8, {2, 2, 2, 3}, std::string(24, '\0'));
    writeNifti("good.nii", DT_UINT8, {4, 4, 4}, std::string(64, '\0'));
    writeNifti("good.nii.gz", DT_UINT8, {4, 4, 4}, pattern(SampleType::UInt8, 4, 4, 4, 1));
    writeNifti("big.nii", DT_FLOAT64, {2, 2, 2}, std::string(64, '\0'), 2);
    std::string bytes = fileBytes("good.nii");
    writeFile("short.nii", bytes.substr(0, bytes.size() - 1));
    // NIfTI-2 sizes are 64-bit: claim 2^40 x 2^40 x 2 (dim[1..3] at byte 24).
    std::string big = fileBytes("big.nii");
    for (int k : {1, 2}) {
        const std::int64_t huge = std::int64_t(1) << 40;
        std::memcpy(&big[std::size_t(16 + 8 * k)], &huge, 8);
    }
    writeFile("huge.nii", big);
    std::string packed = fileBytes("good.nii.gz");
    writeFile("short.nii.gz", packed.substr(0, packed.size() - 30));
    writeFile("text.nii", "not a header");
    // A dimension count the library would walk the header's sizes with, far past their end.
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("TESSARY_SOURCE_DIR") +
                                "/fuzz/corpus/nifti/regression-dim-count.nii",
                            "dims.nii"));
    makeNotAFile("fifo.nii", NotAFile::Fifo);
    const std::string u8 = (pattern(SampleType::UInt8, 3, 2, 4, 1));
    writeFile("short.mha", metaHeader("MET_UCHAR", "", "LOCAL") + u8.substr(1));
    writeFile("huge.mha",
              metaHeader("MET_DOUBLE", "", "LOCAL", "2000000000 2000000000 2000000000"));
    writeFile("wide.mha", metaHeader("MET_DOUBLE", "", "LOCAL", "200000 200000 1"));
    makeNotAFile("fifo.raw", NotAFile::Fifo);
    writeFile("fifo.mhd", metaHeader("MET_UCHAR", "", "fifo.raw"));
    writeFile("inner/up.mhd", metaHeader("MET_UCHAR", "", "../short.mha"));
    writeFile("outside.raw", u8);
    writeFile("links/x.mhd", metaHeader("MET_UCHAR", "", "link.raw"));
    ASSERT_TRUE(QFile::link("../outside.raw", "links/link.raw"));
    const std::string zipped = zlibBytes(u8);
    writeFile("cut.mha", metaHeader("MET_UCHAR", "CompressedData = True\n", "LOCAL") +
                             zipped.substr(0, zipped.size() / 2));
    writeSeries("uneven", 4, DicomSlice(), {0, 3, 6, 10});
    writeSeries("repeated", 3, DicomSlice(), {0, 3, 3});
    DicomSlice shortData;
    shortData.pixels.assign(6, 0); // 3 x 2 int16 samples take 12 bytes
    QDir().mkpath("short");
    writeDicom("short/a.dcm", shortData);
    DicomSlice twelveBits;
    twelveBits.format = gdcm::PixelFormat(1, 12, 12, 11);
    twelveBits.pixels.assign(9, 0);
    QDir().mkpath("packed");
    writeDicom("packed/a.dcm", twelveBits);
    writeFile("empty/readme.txt", "no images here");
    // A file meta group on which the Debian build of GDCM fails an assertion.
    QDir().mkpath("assert");
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("TESSARY_SOURCE_DIR") +
                                "/fuzz/corpus/dicom/regression-meta-assert.dcm",
                            "assert/x.dcm"));
    makeNotAFile("fifo/x.dcm", NotAFile::Fifo);
    using Open = std::function<std::string(const char*, TypedSource*)>;
    const Open meta = [](const char* path, TypedSource* source) {
        return openPackInput({path}, {}, source);
    };
    const Open nifti = [](const char* path, TypedSource* source) {
        return openPackInput({path}, {-1, -1}, source);
    };
    const Open dicom = [](const char* path, TypedSource* source) {
        return openPackInput({path}, {}, source);
    };
    const std::tuple<Open, const char*, const char*, bool> cases[] = {
        {nifti, "time.nii", "of 3 volumes", false},
        {nifti, "short.nii", "truncated", false},
        {nifti, "huge.nii", "unsupported sizes", false},
        {nifti, "short.nii.gz", "", true},
        {nifti, "text.nii", "not a NIfTI file", false},
        {nifti, "dims.nii", "dimension count", false},
        {nifti, "fifo.nii", "can't open", false},
        {meta, "short.mha", "truncated", false},
        {meta, "huge.mha", "too large", false},
        {meta, "wide.mha", "memory", false},
        {meta, "fifo.mhd", "fifo.raw: can't open the MetaImage data file", false},
        {meta, "inner/up.mhd", "outside", false},
        {meta, "links/x.mhd", "outside", false},
        {meta, "cut.mha", "truncated", true},
        {dicom, "uneven", "uneven slice positions: 0, 3, 6, 10", false},
        {dicom, "repeated", "repeated slice positions: 0, 3, 3", false},
        {dicom, "short", "pixel data too short", false},
        {dicom, "packed", "sample type", false},
        {dicom, "empty", "no slice pictures or DICOM images", false},
        {dicom, "assert", "malformed DICOM data", false},
        {dicom, "fifo", "no slice pictures or DICOM images", false},
        {dicom, "fifo/x.dcm", "can't open input file", false},
    };
    for (const auto& [open, name, what, onRead] : cases) {
        SCOPED_TRACE(name);
        TypedSource source;
        std::string message = open(name, &source), samples;
        if (onRead) {
            EXPECT_EQ(message, "");
            message = readTwice(source, &samples);
        }
        // A message about another file (a data file the header names) starts with its path.
        expectRefusal(message, std::strchr(what, ':') ? "" : name, what);
    }
}
} // namespace
