#include "filerefused.h"
#include "nrrdfiles.h"
#include "nrrd/nrrdheader.h"
#include "scratchdir.h"
#include "storedsamples.h"
#include "formatsupport.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {
const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// A 3 x 2 x 4 volume of the type whose every sample differs, as values.
std::vector<double> volumeValues(SampleType type) {
    std::vector<double> values;
    const double scale = type == SampleType::Float64   ? 1e-300
                         : type == SampleType::Float32 ? 3.25
                                                       : 3;
    for (int i = 0; i < 24; ++i)
        values.push_back(type == SampleType::UInt8 ? i * 7 : (i - 5) * scale);
    return values;
}

// The samples in the encoding, in the byte order the host lacks where the order matters.
std::string encodedSamples(const std::string& encoding, SampleType type,
                           const std::vector<double>& values) {
    if (encoding == "ASCII")
        return nrrdAscii(values, 3);
    return nrrdEncoded(encoding, typedBytes(type, values, true));
}

std::vector<double> slicesOf(const std::vector<double>& values, int first, int count) {
    return std::vector<double>(values.begin() + first * 6, values.begin() + (first + count) * 6);
}
} // namespace

// Each encoding reads the same samples, attached to the header, in one data file, in a LIST of
// a file a slice, and in numbered files of two slices each named by a pattern counting down.
TEST(NrrdTest, EveryEncodingAndDataLayoutReadsTheSameSamples) {
    ScratchDir dir;
    ensureApplication();
    const std::pair<SampleType, const char*> types[] = {{SampleType::UInt8, "uchar"},
                                                        {SampleType::Int16, "short"},
                                                        {SampleType::Float32, "float"},
                                                        {SampleType::Float64, "double"}};
    for (const auto& [type, name] : types)
        for (const std::string encoding : {"raw", "gzip", "bzip2", "hex", "ASCII"}) {
            SCOPED_TRACE(std::string(name) + " " + encoding);
            const std::vector<double> values = volumeValues(type);
            const std::string header =
                std::string("NRRD0004\ntype: ") + name +
                "\ndimension: 3\nsizes: 3 2 4\nendian: " + (little ? "big" : "little") +
                "\nencoding: " + encoding + "\n";
            writeFile("attached.nrrd", header + "\n" + encodedSamples(encoding, type, values));
            writeFile("one.nhdr", header + "data file: d/one.dat\n");
            writeFile("d/one.dat", encodedSamples(encoding, type, values));
            std::string list = header + "data file: LIST\n";
            for (int z = 0; z < 4; ++z) {
                list += "d/s" + std::to_string(z) + ".dat\n";
                writeFile("d/s" + std::to_string(z) + ".dat",
                          encodedSamples(encoding, type, slicesOf(values, z, 1)));
            }
            writeFile("list.nhdr", list);
            writeFile("pattern.nhdr", header + "data file: d/p%03d.dat 12 10 -2 3\n");
            writeFile("d/p012.dat", encodedSamples(encoding, type, slicesOf(values, 0, 2)));
            writeFile("d/p010.dat", encodedSamples(encoding, type, slicesOf(values, 2, 2)));
            for (const char* file : {"attached.nrrd", "one.nhdr", "list.nhdr", "pattern.nhdr"}) {
                SCOPED_TRACE(file);
                TypedSource source;
                EXPECT_EQ(packSamples({file}, {}, &source), typedBytes(type, values));
                EXPECT_EQ(source.info.type, type);
                EXPECT_EQ(source.info.depth, 4);
            }
        }
    // info says how the samples are stored, where it is not raw in one file.
    TypedSource source;
    ASSERT_EQ(openPackInput({"pattern.nhdr"}, {}, &source), "");
    EXPECT_EQ(source.info.format, "NRRD (ASCII, in 2 data files)");
}

TEST(NrrdTest, DataFileNamesComeFromOneNameAListOrAPattern) {
    const struct {
        const char* value;
        std::vector<std::string> following, names;
        const char* refusal;
    } cases[] = {
        {"v raw.dat", {"ignored"}, {"v raw.dat"}, ""},
        {"LIST", {"a", "b"}, {"a", "b"}, ""},
        {"LIST 2", {}, {}, "no names after it"},
        {"s%02d.raw 8 10 1", {}, {"s08.raw", "s09.raw", "s10.raw"}, ""},
        {"s%d.raw -1 -5 -2", {}, {"s-1.raw", "s-3.raw", "s-5.raw"}, ""},
        {"s%3i 0 0 1 2", {}, {"s  0"}, ""},
        {"s%d.raw 0 3 2", {}, {"s0.raw", "s2.raw"}, ""},
        {"s%d.raw 0 3 0", {}, {}, "step does not go"},
        {"s%d.raw 5 3 1", {}, {}, "step does not go"},
        {"s%d%d.raw 0 3 1", {}, {}, "needs one %d"},
        {"s%s.raw 0 3 1", {}, {}, "needs one %d"},
        {"s%n.raw 0 3 1", {}, {}, "needs one %d"},
        {"s%d.raw 0 3", {}, {}, "needs one %d"},
        {"s%d.raw 0 99999999999 1", {}, {}, "needs one %d"},
        {"s%d.raw 0 2000000000 1", {}, {}, "more than 262144 data files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<std::string> names;
        const std::string failure = nrrdDataFileNames(c.value, c.following, &names);
        EXPECT_NE(failure.find(c.refusal), std::string::npos) << failure;
        EXPECT_EQ(failure.empty(), *c.refusal == '\0') << failure;
        EXPECT_EQ(names, c.names);
    }
}

TEST(NrrdTest, BrokenSamplesAndDataFilesAreRefusedInOneLine) {
    ScratchDir dir;
    ensureApplication();
    const std::string header = "NRRD0004\ntype: uchar\ndimension: 3\nsizes: 2 2 2\nencoding: ";
    const std::string eight(8, 'x'), bz = nrrdEncoded("bzip2", eight);
    std::string damaged = bz;
    damaged[bz.size() / 2] = char(damaged[bz.size() / 2] ^ 0x55);
    writeFile("secret", eight);
    writeFile("in/one.raw", "xxxx");
    writeFile("in/short.raw", "xx");
    makeNotAFile("in/fifo", NotAFile::Fifo);
    const std::pair<std::string, std::string> broken[] = {
        {header + "ASCII\n\n1 2 3 x 5 6 7 8\n",
         "'x' in the ASCII samples is not a number of type uint8"},
        {header + "ASCII\n\n1 2 3 4 5 6 7 256\n", "'256' in the ASCII samples"},
        {header + "ASCII\n\n1 2 3 4 5 6 7\n", "truncated samples"},
        {header + "ASCII\n\n1\n", "bytes of ASCII data can't hold 8 bytes"},
        {header + "hex\n\n00010203040506zz\n", "a character other than a hex digit"},
        {header + "hex\n\n000102030405060\n", "truncated samples"},
        {header + "hex\n\n0001\n", "bytes of hex data can't hold"},
        {header + "bzip2\n\n" + damaged, "bzip2"},
        {header + "bzip2\n\n" + bz.substr(0, bz.size() / 2), "truncated bzip2 samples"},
        {header + "bzip2\nbyte skip: 1\n\n" + bz, "byte skip with bzip2 encoding"},
        {header + "hex\nbyte skip: -1\n\n" + eight, "backwards byte skip only in raw encoding"},
        {header + "raw\ndata file: LIST\none.raw\n../secret\n",
         "the data file ../secret is outside"},
        {header + "raw\ndata file: LIST\none.raw\nfifo\n", "the data file fifo is not a regular"},
        {header + "raw\ndata file: s%d.raw 0 1 1\n", "can't open the data file s0.raw"},
        {header + "raw\ndata file: LIST\none.raw\nshort.raw\n",
         "the data file short.raw: file too short"},
        {header + "raw\nline skip: 5\ndata file: LIST\none.raw\none.raw\n",
         "hit EOF skipping line 1 of 5"},
        {header + "raw\ndata file: %d 0 100000000 1\n", "more than 262144 data files"},
    };
    int i = 0;
    for (const auto& [contents, reason] : broken)
        expectFileRefused("in/b" + std::to_string(i++) + ".nhdr", contents, reason);
}
