// Each reader's hostile files: refused with one line that names the file.
#include "dicomfiles.h"
#include "dicom.h"
#include "formattable.h"
#include "metaimage.h"
#include "nifti.h"
#include "niftifiles.h"
#include "testsupport.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

namespace {
std::string pattern(SampleType type, int w, int h, int d, int channels) {
    return typedPattern(type, w, h, d, channels);
}

// A NIfTI file of the sizes with spacing and an identity qform, as a writer leaves it.
void writeNifti(const char* name, int datatype, const std::vector<int>& sizes,
                const std::string& data, int version = 1) {
    NiftiFile file;
    file.version = version;
    file.datatype = datatype;
    file.dims.assign(sizes.begin(), sizes.end());
    file.qformCode = NIFTI_XFORM_SCANNER_ANAT;
    ASSERT_EQ(writeNifti(name, file, data), "");
}

std::string metaHeader(const std::string& type, const std::string& extra,
                       const std::string& dataFile, const char* sizes = "3 2 4") {
    return "ObjectType = Image\nNDims = 3\nDimSize = " + std::string(sizes) +
           "\nElementType = " + type + "\nElementSpacing = 0.5 1 2.5\n" + extra +
           "ElementDataFile = " + dataFile + "\n";
}

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
        const std::string name = folder + "/img" + std::to_string(names[std::size_t(k)]) + ".dcm";
        EXPECT_EQ(writeDicom(name, slice), "");
    }
    return all;
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
