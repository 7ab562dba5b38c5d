#include "contained.h"
#include "formattable.h"
#include "hdf5/hdf5file.h"
#include "formatsupport.h"

#include <QDir>
#include <QFile>

#include <hdf5.h>

#include <QElapsedTimer>
#include <QProcess>

namespace {
class Hdf5Files : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scriptOutput("hdf5files.py").isEmpty())
            << "hdf5files.py needs /usr/bin/python3 and h5py";
    }
    static QString file(const std::string& name) {
        return scriptOutput("hdf5files.py") + "/" + QString::fromStdString(name);
    }
};

TEST_F(Hdf5Files, ReadsTheSamplesH5pyReads) {
    const struct {
        const char* file;
        int volume;
        const char* dataset;
        int size;
        const char* expected; // h5py's read, channels interleaved
        int level;            // -1: not a pyramid
        const char* described;
    } cases[] = {
        {"volume.ims", 0, "", 0, "ims_t0_l0", 0,
         "Imaris: 40x36x20 uint16*2 alpha -1, spacing 0.5 0.5 2 known"},
        {"volume.ims", 1, "", 12, "ims_t1_l1", 1,
         "Imaris: 20x18x10 uint16*2 alpha -1, spacing 1 1 4 known"},
        {"volume.ims", 1, "", 9, "ims_t1_l2", 2,
         "Imaris: 10x9x5 uint16*2 alpha -1, spacing 2 2 8 known"},
        {"floats.ims", -1, "", 0, "floats_l0", 0,
         "Imaris: 17x9x33 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"floats.ims", -1, "", 3, "floats_l1", 1,
         "Imaris: 8x4x16 float32*1 alpha -1, spacing 2.125 2.25 2.0625 unknown"},
        {"setups.h5", 1, "", 0, "bdv_t1_l0", 0,
         "BigDataViewer HDF5: 24x20x12 uint16*2 alpha -1, spacing 0.5 0.5 1 known"},
        {"setups.xml", 1, "", 0, "bdv_t1_l0", 0,
         "BigDataViewer HDF5: 24x20x12 uint16*2 alpha -1, spacing 0.5 0.5 1 known"},
        {"setups.h5", 0, "s01", 10, "bdv_t0_l1_s01", 1,
         "BigDataViewer HDF5: 12x10x6 uint16*1 alpha -1, spacing 1 1 2 known"},
        {"plain.h5", -1, "vol3", 0, "plain_vol3", -1,
         "HDF5 dataset /vol3: 11x10x9 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"plain.h5", -1, "/group/channels", 0, "plain_channels", -1,
         "HDF5 dataset /group/channels: 11x10x9 uint8*2 alpha -1, spacing 1 1 1 unknown"},
        {"plain.h5", 3, "series", 0, "plain_series_t3", -1,
         "HDF5 dataset /series: 8x7x6 int16*1 alpha -1, spacing 1 1 1 unknown"},
        {"plain.h5", -1, "rgb", 0, "plain_rgb", -1,
         "HDF5 dataset /rgb: 8x7x6 uint8*3 alpha -1, spacing 1 1 1 unknown"},
        {"plain.h5", -1, "shuffled", 0, "plain_shuffled", -1,
         "HDF5 dataset /shuffled: 11x10x9 uint16*1"},
        {"plain.h5", -1, "checksummed", 0, "plain_checksummed", -1,
         "HDF5 dataset /checksummed: 11x10x9 uint16*1"},
        {"plain.h5", -1, "bigendian", 0, "plain_bigendian", -1,
         "HDF5 dataset /bigendian: 11x10x9 uint16*1"},
        {"plain.h5", -1, "sparse", 0, "plain_sparse", -1, "HDF5 dataset /sparse: 8x8x8 int16*1"},
        {"plain.h5", -1, "tiny", 0, "plain_tiny", -1,
         "HDF5 dataset /tiny: 256x512x2 uint8*1 alpha -1, spacing 1 1 1 unknown"},
        // netCDF-4 variables: masked samples NaN, the rest scaled, as float32.
        {"netcdf.nc", -1, "temperature", 0, "netcdf_temperature", -1,
         "HDF5 dataset /temperature: 8x7x6 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"netcdf.nc", -1, "/salinity", 0, "netcdf_salinity", -1,
         "HDF5 dataset /salinity: 7x6x5 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"netcdf.nc", -1, "pressure", 0, "netcdf_pressure", -1,
         "HDF5 dataset /pressure: 6x5x4 float32*1 alpha -1, spacing 1 1 1 unknown"},
        // MINC2: an integer image as real values by its ranges, placed by its dimensions.
        {"slices.mnc", -1, "", 0, "minc_slices", -1,
         "MINC2: 7x6x5 float32*1 alpha -1, spacing 2 1.5 3 known, oriented LAS from the MINC2 "
         "direction cosines (x = -i, y = -j, z = k), oblique"},
        {"slices.mnc", 0, "minc-2.0/image/0/image", 0, "minc_slices", -1,
         "MINC2: 7x6x5 float32*1 alpha -1, spacing 2 1.5 3 known, oriented LAS from the MINC2 "
         "direction cosines (x = -i, y = -j, z = k), oblique"},
        {"rows.mnc", -1, "", 0, "minc_rows", -1,
         "MINC2: 6x9x10 float32*1 alpha -1, spacing 2 1.5 3 known, oriented LAS from the MINC2 "
         "direction cosines (x = -i, y = -j, z = k), oblique"},
        {"series.mnc", 2, "", 0, "minc_series_t2", -1,
         "MINC2, time point 2 of 3: 6x5x4 float32*1 alpha -1, spacing 2 1.5 3 known, oriented LAS "
         "from the MINC2 direction cosines (x = -i, y = -j, z = k), oblique"},
        {"vector.mnc", -1, "", 0, "minc_vector", -1,
         "MINC2: 6x5x4 float32*3 alpha -1, spacing 1.5 3 2 known, oriented LAS from the MINC2 "
         "direction cosines (x = -k, y = -i, z = j)"},
        {"floats.mnc", -1, "", 0, "minc_floats", -1,
         "MINC2: 5x3x4 float32*1 alpha -1, spacing 1 1 1 unknown, oriented LAS from MINC's default "
         "axes (x = -i, y = j, z = k)"},
        {"netcdf.nc", -1, "unwritten", 0, "netcdf_unwritten", -1,
         "HDF5 dataset /unwritten: 6x5x4 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"netcdf.nc", -1, "unwritten_f4", 0, "netcdf_unwritten_f4", -1,
         "HDF5 dataset /unwritten_f4: 6x5x4 float32*1 alpha -1, spacing 1 1 1 unknown"},
        {"netcdf.nc", -1, "bytes", 0, "netcdf_bytes", -1,
         "HDF5 dataset /bytes: 6x5x4 uint8*1 alpha -1, spacing 1 1 1 unknown"},
        {"netcdf.nc", 2, "series", 0, "netcdf_series_t2", -1,
         "HDF5 dataset /series: 6x5x4 float32*1 alpha -1, spacing 1 1 1 unknown"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.file) + " " + test.dataset + " " + test.expected);
        InputSelection selection(-1, test.volume);
        selection.dataset = test.dataset;
        selection.size = test.size;
        TypedSource source;
        const std::string samples = packSamples({file(test.file)}, selection, &source);
        EXPECT_TRUE(samples == fileBytes(file(std::string(test.expected) + ".raw")))
            << samples.substr(0, 200);
        EXPECT_EQ(describe(source.info).rfind(test.described, 0), 0u) << describe(source.info);
        EXPECT_EQ(source.info.level, test.level);
    }
}

// A BigDataViewer file's XML counts among the files read, which no output may overwrite.
TEST_F(Hdf5Files, BigDataViewerXmlIsAmongTheFilesRead) {
    TypedSource bdv;
    ASSERT_EQ(openPackInput({file("setups.h5")}, InputSelection(-1, 0), &bdv), "");
    ASSERT_EQ(bdv.files.size(), 1u);
    EXPECT_NE(bdv.files[0].find("setups.xml"), std::string::npos);
    // Named by its .xml, the .h5 is read too.
    ASSERT_EQ(openPackInput({file("setups.xml")}, InputSelection(-1, 0), &bdv), "");
    ASSERT_EQ(bdv.files.size(), 2u);
    EXPECT_NE(bdv.files[1].find("setups.h5"), std::string::npos);
}

// The files a BigDataViewer dataset names are inputs too: inside the folder, regular files.
TEST_F(Hdf5Files, BigDataViewerXmlNamesOnlyFilesBesideIt) {
    ScratchDir scratch;
    ASSERT_TRUE(QDir().mkpath("in") && QDir().mkpath("out"));
    ASSERT_TRUE(QFile::copy(file("setups.h5"), "in/setups.h5"));
    ASSERT_TRUE(QFile::copy(file("setups.xml"), "out/setups.xml"));
    ASSERT_TRUE(QFile::link("../out/setups.xml", "in/setups.xml"));
    const auto loader = [](const std::string& format, const std::string& name) {
        return "<SpimData><SequenceDescription><ImageLoader format=\"" + format +
               "\"><hdf5 type=\"relative\">" + name + "</hdf5></ImageLoader>" +
               "</SequenceDescription></SpimData>";
    };
    writeFile("in/up.xml", loader("bdv.hdf5", "../out/x.h5"));
    ASSERT_TRUE(QFile::copy(file("setups.h5"), "out/x.h5"));
    writeFile("in/n5.xml", loader("bdv.n5", "x.n5"));
    writeFile("in/missing.xml", loader("bdv.hdf5", "gone.h5"));
    writeFile("in/other.xml", loader("bdv.hdf5", "setups.h5"));
    writeFile("in/plain.xml", "<html/>");
    const std::pair<const char*, const char*> cases[] = {
        {"in/setups.h5", "in/setups.xml: the dataset's XML: it lies outside the folder"},
        {"in/up.xml", "out/x.h5: it lies outside the folder"},
        {"in/n5.xml", "in/n5.xml: a BigDataViewer dataset stored as bdv.n5: only bdv.hdf5"},
        {"in/missing.xml", "in/gone.h5: can't open: no such file"},
        {"in/other.xml", "which has another XML beside it: pack the .h5 itself"},
        {"in/plain.xml", "in/plain.xml: not a BigDataViewer dataset: no ImageLoader"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        TypedSource source;
        const std::string failure = openPackInput({input}, InputSelection(-1, 0), &source);
        EXPECT_EQ(failure.find('\n'), std::string::npos) << failure;
        EXPECT_NE(failure.find(expected), std::string::npos) << failure;
    }
}

TEST_F(Hdf5Files, RefusesHostileFilesInOneLine) {
    // The file packed, the options, the file the message names, and a piece of the refusal.
    const std::tuple<const char*, QStringList, const char*, const char*> cases[] = {
        {"truncated.ims", {}, "truncated.ims", "HDF5"},
        {"garbled.ims", {}, "garbled.ims", "HDF5"},
        {"lying.ims", {}, "lying.ims", "smaller than its level's 4000 x 36 x 20"},
        {"nonumber.ims", {}, "nonumber.ims", "image size Z"},
        {"volume.ims", {}, "volume.ims", "2 time points (pick one with --volume T"},
        {"volume.ims", {"--volume", "2"}, "volume.ims", "--volume 2"},
        {"angles.h5", {"--volume", "0"}, "angles.xml", "differ in angle"},
        {"cut.h5", {"--volume", "0"}, "cut.xml", "malformed XML"},
        {"plain.h5", {}, "plain.h5", "--dataset PATH"},
        {"plain.h5", {"--dataset", "/nope"}, "plain.h5", "no such dataset"},
        {"plain.h5", {"--dataset", "flat"}, "plain.h5", "3-D and 4-D"},
        {"plain.h5", {"--dataset", "wide"}, "plain.h5", "int64"},
        {"plain.h5", {"--dataset", "huge"}, "plain.h5", "too large"},
        {"plain.h5", {"--dataset", "toolarge"}, "plain.h5", "too large"},
        {"layouts.h5",
         {"--dataset", "compact"},
         "layouts.h5",
         "/compact holds 64 bytes of compact data where its shape needs 512: the file is damaged"},
        {"layouts.h5",
         {"--dataset", "contiguous"},
         "layouts.h5",
         "/contiguous keeps its samples past the end of the file: the file is damaged or cut "
         "short"},
        {"filters.h5",
         {"--dataset", "lzf"},
         "filters.h5",
         "/lzf is compressed with HDF5 filter 32000 (LZF), which this system's HDF5 library "
         "lacks: rewrite it with gzip, e.g. with h5py, which reads LZF"},
        {"filters.h5",
         {"--dataset", "blosc"},
         "filters.h5",
         "filter 32001 (Blosc), which this system's HDF5 library lacks: install "
         "hdf5-filter-plugin-blosc-serial"},
        {"filters.h5",
         {"--dataset", "unknown"},
         "filters.h5",
         "filter 32999, which this system's HDF5 library lacks: install the HDF5 filter plugin"},
        {"slices.mnc",
         {"--dataset", "/minc-2.0/image/0/image-min"},
         "slices.mnc",
         "pack reads a MINC2 file's image alone, /minc-2.0/image/0/image"},
        {"slices.mnc", {"--volume", "1"}, "slices.mnc", "no volume 1: the input holds one"},
        {"series.mnc",
         {},
         "series.mnc",
         "a MINC2 image of 3 time points: pick one with --volume T"},
        {"minc_shape.mnc", {}, "minc_shape.mnc", "image-min is over other dimensions"},
        {"minc_over.mnc", {}, "minc_over.mnc", "image-min is over other dimensions"},
        {"minc_nomin.mnc", {}, "minc_nomin.mnc", "an integer image without a numeric"},
        {"minc_nan.mnc", {}, "minc_nan.mnc", "image-max holds a value that is not a finite"},
        {"minc_flat.mnc", {}, "minc_flat.mnc", "valid_range is not two finite numbers"},
        {"minc_nodim.mnc",
         {},
         "minc_nodim.mnc",
         "no dimension variable /minc-2.0/dimensions/yspace"},
        {"minc_zerostep.mnc", {}, "minc_zerostep.mnc", "xspace's step is not one finite number"},
        {"minc_nanstep.mnc", {}, "minc_nanstep.mnc", "yspace's step is not one finite number"},
        {"minc_cosines.mnc", {}, "minc_cosines.mnc", "span no volume"},
        {"minc_irregular.mnc", {}, "minc_irregular.mnc", "zspace is irregularly spaced"},
        {"minc_unknown.mnc", {}, "minc_unknown.mnc", "an image of dimension xfrequency"},
        {"minc_twice.mnc", {}, "minc_twice.mnc", "its dimorder names xspace twice"},
        {"minc_vast.mnc",
         {"--volume", "0"},
         "minc_vast.mnc",
         "image-min is over other dimensions than the image's slices or rows"},
        {"minc_vector5.mnc", {}, "minc_vector5.mnc", "a vector_dimension of 5"},
        {"minc1.mnc", {}, "minc1.mnc", "a MINC1 file (netCDF), which pack does not read"},
        {"bombs.h5",
         {"--dataset", "inflating"},
         "bombs.h5",
         "a chunk is stored in more bytes than its samples could take"},
        {"bombs.h5", {"--dataset", "overlong"}, "bombs.h5", "a chunk inflates past its size"},
        {"bombs.h5",
         {"--dataset", "short"},
         "bombs.h5",
         "a chunk decodes to fewer bytes than its size: the file is damaged"},
        {"bombs.h5", {"--dataset", "hugechunks"}, "bombs.h5", "chunks of more than the 1 GB"},
    };
    for (const auto& [input, options, named, what] : cases) {
        SCOPED_TRACE(input + (" " + options.join(" ").toStdString()));
        const QString out = file("out.vol");
        const ToolRun run = runTool(QStringList{"pack", file(input), "-o", out, "--pad"} + options);
        expectRefusal(run, file(named).toStdString() + ": ", what);
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

// The converter run with the preloaded hdf5faults making libhdf5 misbehave as fault says
// ("WHERE:HOW"), under the shell's limits, with core files allowed; it must end within 20 s.
ToolRun runWithFault(const QString& fault, const QString& limits, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", HDF5_FAULTS);
    environment.insert("TESSARY_TEST_HDF5", fault);
    const QString asan = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS",
                       asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start("bash",
                  QStringList{"-c", "ulimit -Sc $(ulimit -Hc)" + limits + " && exec \"$0\" \"$@\"",
                              tessaryVol()} +
                      arguments);
    process.waitForFinished(60000);
    EXPECT_LT(timer.elapsed(), 20000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, "",
            process.readAllStandardError().toStdString()};
}

// libhdf5 made to crash, abort, exhaust memory or spin ends only the child reading the file: one
// line naming it, status 1, nothing left behind, no core file, under core files allowed and short
// CPU and address-space limits, which the children inherit and may not raise. read2 crashes part
// of the way through a slab, after the converter has used the slices the child wrote first.
TEST_F(Hdf5Files, ACrashInsideLibhdf5EndsOnlyTheChild) {
    const std::pair<std::string, std::string> faults[] = {
        {"segv", "malformed HDF5 data: the HDF5 library gave up on it"},
        {"abort", "malformed HDF5 data: the HDF5 library gave up on it"},
        {"allocate", "needs more than "},
        {"spin", "the HDF5 library took more than "},
    };
    // info fails listing the file; pack lists it, then fails reading the samples.
    const std::tuple<QStringList, QString, const char*> commands[] = {
        {{"info"}, "open", "volume.ims"},
        {{"pack", "-o", "out.vol"}, "read", "volume.ims"},
        {{"pack", "-o", "out.vol"}, "read2", "floats.ims"},
    };
    for (const auto& [how, ended] : faults) {
        // The sanitizers' shadow memory leaves no address-space limit to end the child.
        if (how == "allocate" && !addressSpaceLimitWorks())
            continue;
        const QString limits = QString(addressSpaceLimitWorks() ? " && ulimit -v 393216" : "") +
                               (how == "spin" ? " && ulimit -St 2 && ulimit -Ht 3" : "");
        for (const auto& [command, where, input] : commands) {
            SCOPED_TRACE(command.join(" ").toStdString() + " " + input + " " + how);
            ScratchDir scratch;
            const ToolRun run =
                runWithFault(where + ":" + QString::fromStdString(how), limits,
                             command + QStringList{file(input), "--volume", "0", "--pad"});
            expectRefusal(run, file(input).toStdString() + ": " + ended, "");
            const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
            EXPECT_EQ(QDir().entryList(all).join(" ").toStdString(), ""); // no output, no core
        }
    }
}

// Samples kept in other files (external storage, virtual datasets, external links), out of the
// input's folder or in it, a FIFO or /dev/zero among them, are refused by the dataset's name,
// and none of those files is opened: an open of one ends the converter with another message.
TEST_F(Hdf5Files, FilesADatasetNamesAreNeverOpened) {
    const std::string external = " keeps its samples in other files (external storage), which "
                                 "pack does not open: copy them into the file, e.g. with h5repack";
    const std::string virtualSet = " is a virtual dataset made of other files' datasets, which "
                                   "pack does not open: copy its samples into the file, e.g. "
                                   "with h5repack";
    const std::string link = " is an external link to another file, which pack does not follow: "
                             "copy the dataset into the file, e.g. with h5copy";
    // The file, --dataset, and the refusal after the file's name.
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"named/named.h5", "external/absolute", "/external/absolute" + external},
        {"named/named.h5", "external/relative", "/external/relative" + external},
        {"named/named.h5", "external/inside", "/external/inside" + external},
        {"named/named.h5", "external/zero", "/external/zero" + external},
        {"named/named.h5", "external/fifo", "/external/fifo" + external},
        {"named/named.h5", "external/small", "/external/small" + external},
        {"named/named.h5", "virtual/outside", "/virtual/outside" + virtualSet},
        {"named/named.h5", "virtual/absolute", "/virtual/absolute" + virtualSet},
        {"named/named.h5", "virtual/missing", "/virtual/missing" + virtualSet},
        {"named/named.h5", "virtual/fifo", "/virtual/fifo" + virtualSet},
        {"named/named.h5", "virtual/itself", "/virtual/itself" + virtualSet},
        {"named/named.h5", "virtual/unlimited", "/virtual/unlimited" + virtualSet},
        {"named/named.h5", "link", "/link" + link},
        {"named/external.ims", "",
         "/DataSet/ResolutionLevel 0/TimePoint 0/Channel 0/Data" + external},
    };
    for (const auto& [input, dataset, refusal] : cases)
        for (const QStringList& command :
             {QStringList{"info"}, QStringList{"pack", "-o", "out.vol"}}) {
            SCOPED_TRACE(command[0].toStdString() + " " + input + " " + dataset);
            ScratchDir scratch;
            const QStringList named = *dataset ? QStringList{"--dataset", dataset} : QStringList{};
            const ToolRun run =
                runWithFault("forbid:secret", "", command + QStringList{file(input)} + named);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, file(input).toStdString() + ": " + refusal + "\n");
            EXPECT_FALSE(QFileInfo::exists("out.vol"));
        }
}

// info tells the level pack reads, and the map Imaris' channel colours (red, then green) make;
// of a file in no layout it knows, it lists the datasets, marking those whose storage is refused
// (a virtual dataset's shape unasked, since libhdf5 may open its sources to tell it).
TEST_F(Hdf5Files, InfoTellsTheLevelAndColoursRead) {
    const ToolRun levels =
        runTool({"info", file("volume.ims"), "--volume", "1", "--size", "12", "--pad"});
    EXPECT_EQ(levels.status, 0) << levels.err;
    for (const char* line :
         {"ResolutionLevel 1: 20 x 18 x 10, spacing 1, 1, 4  (pack reads it)",
          "R=0 G=1 B=- (the file's channel colours), pyramid level 1 (\"ResolutionLevel 1\") of 3"})
        EXPECT_NE(levels.out.find(line), std::string::npos) << line << "\n" << levels.out;
    const ToolRun datasets = runTool({"info", file("plain.h5")});
    EXPECT_EQ(datasets.status, 1);
    EXPECT_NE(datasets.out.find("/group/channels  2 x 9 x 10 x 11  uint8"), std::string::npos)
        << datasets.out;
    const ToolRun named = runTool({"info", file("named/named.h5")});
    for (const char* line : {"/external/zero  8 x 8 x 8  uint8  (pack refuses it)\n",
                             "/virtual/outside    uint8  (pack refuses it)\n"})
        EXPECT_NE(named.out.find(line), std::string::npos) << line << "\n" << named.out;
}

// The parent decodes what the child sends without trusting it: a list cut anywhere or with a
// count that lies is refused, never read past.
TEST_F(Hdf5Files, ListFromTheChildIsCheckedWhole) {
    quietHdf5();
    const hid_t opened =
        H5Fopen(QFile::encodeName(file("volume.ims")).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(opened, 0);
    std::vector<unsigned char> bytes;
    ASSERT_EQ(listOpenHdf5(opened, &bytes), "");
    H5Fclose(opened);
    Hdf5Contents contents;
    ASSERT_TRUE(decodeHdf5Contents(bytes, &contents));
    EXPECT_TRUE(contents.find("/DataSet/ResolutionLevel 2/TimePoint 1/Channel 1/Data"));
    for (std::size_t size = 0; size < bytes.size(); size += 1 + size / 16) {
        std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(size));
        EXPECT_FALSE(decodeHdf5Contents(cut, &contents)) << size;
    }
    std::vector<unsigned char> lying = bytes;
    lying[15] = 0x7f; // the object count's top byte
    EXPECT_FALSE(decodeHdf5Contents(lying, &contents));
}
} // namespace
