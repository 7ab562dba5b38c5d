#include "dicomfiles.h"
#include "fitsfiles.h"
#include "formattable.h"
#include "mrcfiles.h"
#include "niftifiles.h"
#include "readercheck.h"
#include "scratchdir.h"
#include "formatsupport.h"
#include "tifffiles.h"
#include "vtkfiles.h"

#include <QImage>
#include <QProcess>

#include <chrono>
#include <map>
#include <set>
#include <sstream>

TEST(FormatsTest, EachFormatOpensAsItselfWithItsSamples) {
    // The input rows: where each file is, the format that must read it and what it must find.
    struct Row {
        QString path;
        std::string format; // the table's name
        std::string found;  // describe() of the info
        std::string samples;
        std::string dataset = ""; // --dataset, where the format needs one
        bool turned = false;      // samples as the volume has them once turned, not as stored
        std::string raw = "";     // --raw, where the format needs one
    };
    ScratchDir dir;
    ensureApplication();
    const std::string rgb = typedPattern(SampleType::UInt8, 2, 2, 2, 3),
                      grey = typedPattern(SampleType::UInt8, 2, 2, 2, 1);
    writeFile("v.vol", volumeFile(2, "v", {rgb.begin(), rgb.end()}));
    writeFile("v.raw", rgb);
    writeFile("v.nii", niftiBytes(NiftiFile(), grey));
    writeFile("v.mha", mhaHeader("") + grey);
    DicomSlice slice;
    slice.columns = slice.rows = 2;
    slice.frames = 2;
    slice.format = gdcm::PixelFormat::UINT8;
    slice.pixels = grey;
    writeDicom("v.dcm", slice);
    // Named by no format: the first bytes tell.
    writeFile("array.bin", npyFile("|u1", "(2, 2, 2)") + grey);
    writeDicom("series/image", slice);
    // A plain Zarr v2 array of one uncompressed chunk.
    writeFile("z/.zarray",
              std::string(R"({"zarr_format": 2, "shape": [2, 2, 2], "chunks": [2, 2, 2],
        "dtype": "|u1", "order": "C", "compressor": null, "filters": null, "fill_value": 0})"));
    writeFile("z/0.0.0", grey);
    MrcFile mrc;
    mrc.cell[0] = mrc.cell[1] = mrc.cell[2] = 3;
    writeFile("v.map", mrcBytes(mrc, grey));
    writeFile("mrc.bin", mrcBytes(mrc, grey)); // named by no format: "MAP" at byte 208 tells
    writeFile("v.mgh", mghBytes(MghFile(), grey));
    FitsHdu fits;
    fits.bitpix = 8;
    for (const char sample : grey)
        fits.stored.push_back(double(static_cast<unsigned char>(sample)));
    writeFile("v.fits", fitsBytes({fits}));
    writeFile("fits.bin", fitsBytes({fits})); // named by no format: "SIMPLE  =" tells
    writeFile("v.vtk", vtkHeader(VtkFile()) + grey);
    writeFile("v.vti", "<VTKFile type=\"ImageData\" byte_order=\"LittleEndian\"><ImageData "
                       "WholeExtent=\"0 1 0 1 0 1\"><Piece Extent=\"0 1 0 1 0 1\"><PointData>"
                       "<DataArray type=\"UInt8\" format=\"binary\">" +
                           QByteArray::fromStdString(std::string("\x08\0\0\0", 4) + grey)
                               .toBase64()
                               .toStdString() +
                           "</DataArray></PointData></Piece></ImageData></VTKFile>");
    VtiFile vti;
    vti.compressor = "vtkLZMADataCompressor";
    vti.wholeExtent = "3 4 -2 -1 0 1";
    vti.spacing = "0.5 2 1";
    vti.names = {"u", "v"};
    vti.scalars = "u";
    writeFile("lzma.vti", vtiBytes(vti, grey));
    writeFile("v.npz", zipBytes({{"v.npy", npyFile("|u1", "(2, 2, 2)") + grey, true}}));
    NiftiFile analyze;
    analyze.magic = std::string(4, '\0');
    analyze.voxOffset = 0;
    ASSERT_EQ(writeNiftiPair("v.hdr", "v.img", analyze, grey), "");

    const QString hdf5 = scriptOutput("hdf5files.py"); // written with h5py
    ASSERT_FALSE(hdf5.isEmpty());
    const std::string rgbFound =
        ": 2x2x2 uint8*3 alpha -1, spacing 1 1 1 unknown, as stored, the viewer's own order";
    const std::string greyFound = ": 2x2x2 uint8*1 alpha -1, spacing ";
    std::vector<Row> rows = {
        {"v.vol", ".vol", "Tessary volume" + rgbFound, rgb},
        {"v.raw", "raw RGB bytes", "raw RGB" + rgbFound, rgb},
        {"v.nii", "NIfTI",
         "NIfTI-1" + greyFound +
             "0.5 0.75 2 known, oriented LAS from the default axes of a header without sform or "
             "qform (x = i, y = j, z = k)",
         grey},
        {"v.mha", "MetaImage",
         "MetaImage" + greyFound +
             "1 1 1 unknown, oriented LAS from ITK's default axes (x = i, y = "
             "-j, z = k)",
         grey},
        {"v.dcm", "DICOM", "", grey},
        {"series", "DICOM", "", grey},
        {"array.bin", ".npy", ".npy" + greyFound + "1 1 1 unknown, rows top-down, as pictures",
         grey},
        {"z", "Zarr", "", grey},
        {"v.map", "MRC",
         "MRC: 2x2x2 int8*1 alpha -1, spacing 1.5 1.5 1.5 known, rows top-down, as pictures", grey},
        {"mrc.bin", "MRC", "", grey},
        {"v.mgh", "MGH",
         "MGH: 2x2x2 uint8*1 alpha -1, spacing 1 1 1 known, oriented LAS from the MGH direction "
         "cosines (x = i, y = k, z = -j)",
         grey},
        {"v.fits", "FITS",
         "FITS" + greyFound +
             "1 1 1 unknown, oriented to the world's axes from FITS's axes (row 1 at the "
             "bottom) (x = i, y = j, z = k)",
         grey},
        {"fits.bin", "FITS", "", grey},
        {"v.vtk", "VTK legacy",
         "VTK legacy (binary)" + greyFound +
             "1 1 1 known, oriented to the world's axes from VTK's axes (x = i, y = j, z = k)",
         grey},
        {"v.vti", "VTK XML image",
         "VTK XML image (binary; extent 0 1 0 1 0 1)" + greyFound +
             "1 1 1 unknown, oriented to the world's axes from VTK's axes (x = i, y = j, z = k)",
         grey},
        {"lzma.vti", "VTK XML image",
         "VTK XML image (appended raw, LZMA; extent 3 4 -2 -1 0 1)" + greyFound +
             "0.5 2 1 known, oriented to the world's axes from VTK's axes (x = i, y = j, z = k)",
         grey, "v"},
        {"v.npz", ".npz",
         ".npz array v: 2x2x2 uint8*1 alpha -1, spacing 1 1 1 unknown, rows top-down, as "
         "pictures",
         grey},
        {"v.img", "NIfTI or Analyze pair",
         "Analyze 7.5: 2x2x2 uint8*1 alpha -1, spacing 0.5 0.75 2 known, oriented LAS from "
         "Analyze's default axes (x = i, y = j, z = k)",
         grey},
        {hdf5 + "/plain.h5", "HDF5", "", fileBytes(hdf5 + "/plain_vol3.raw"), "/vol3"},
        {hdf5 + "/slices.mnc", "MINC2", "", fileBytes(hdf5 + "/minc_slices.raw")},
        {"v.raw", "raw samples (--raw)",
         "raw samples: 2x2x2 uint8*3 alpha -1, spacing 1 1 1 unknown, rows top-down, as pictures",
         rgb, "", false, "2,2,2,uint8,le,3"},
    };
    // The volume written by each format unpack writes, read back as it was once turned.
    for (const InputFormat& format : inputFormats()) {
        if (!format.sink.open)
            continue;
        const QString path = format.sink.suffixes.empty()
                                 ? "written"
                                 : QString::fromStdString("written." + format.sink.suffixes[0]);
        const FormatSink* sink = sinkFor(path);
        EXPECT_EQ(sink, &format.sink) << format.name;
        SliceSink slices;
        EXPECT_EQ(sink->open(path, 2, &slices), "");
        const auto* bytes = reinterpret_cast<const unsigned char*>(rgb.data());
        for (const unsigned char* plane : {bytes, bytes + 12})
            EXPECT_EQ(slices.write(plane), "");
        EXPECT_EQ(slices.commit(), "");
        rows.push_back({path, format.name, "", rgb, "", true});
    }

    std::set<std::string> covered;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        InputSelection selection;
        selection.dataset = row.dataset;
        if (!row.raw.empty()) {
            ASSERT_TRUE(parseRawShape(row.raw, &selection.raw));
        }
        const InputFormat* format = inputFormatOf({row.path}, selection);
        ASSERT_TRUE(format);
        EXPECT_EQ(format->name, row.format);
        covered.insert(format->name);
        TypedSource source;
        const std::string samples = packSamples({row.path}, selection, &source);
        EXPECT_EQ(row.turned ? orientedSamples(source.info, samples) : samples, row.samples);
        if (!row.found.empty()) {
            EXPECT_EQ(describe(source.info), row.found);
        }
        EXPECT_EQ(checkReader({row.path}, selection).broken, "");
    }
    for (const InputFormat& format : inputFormats())
        EXPECT_TRUE(covered.count(format.name)) << format.name << " has no row here";
}

// Each entry is written in its format's own file, away from the others: the door looks formats up
// by name, and takes the first whose suffix (or sink's suffix) fits, so a name or suffix given
// twice would hide the second format.
TEST(FormatsTest, NoTwoEntriesShareANameOrASuffix) {
    std::set<std::string> names;
    std::map<std::string, std::string> suffixes, sinkSuffixes;
    for (const InputFormat& format : inputFormats()) {
        EXPECT_TRUE(names.insert(format.name).second) << format.name << " is named twice";
        for (const std::string& suffix : format.suffixes) {
            const auto taken = suffixes.emplace(suffix, format.name);
            EXPECT_TRUE(taken.second) << "." << suffix << " of " << format.name << " is already "
                                      << taken.first->second << "'s";
        }
        for (const std::string& suffix : format.sink.suffixes) {
            const auto taken = sinkSuffixes.emplace(suffix, format.name);
            EXPECT_TRUE(taken.second) << "unpack's ." << suffix << " of " << format.name
                                      << " is already " << taken.first->second << "'s";
        }
    }
}

TEST(FormatsTest, EveryEntryIsHelpedAndFuzzed) {
    const QString fuzz = QString::fromStdString(sourceDir()) + "/fuzz/";
    const std::string targets = fileBytes(fuzz + "targets.txt");
    ASSERT_FALSE(targets.empty());
    for (const InputFormat& format : inputFormats()) {
        SCOPED_TRACE(format.name);
        for (const std::string& suffix : format.suffixes)
            EXPECT_NE(std::string(format.help).find("." + suffix), std::string::npos);
        const std::string target = format.fuzzTarget;
        const std::size_t line = ("\n" + targets).find("\n" + target + " ");
        ASSERT_NE(line, std::string::npos) << target << " is not in fuzz/targets.txt";
        // The target's kind: file.SUFFIX or volume.SUFFIX (the one file target, given a suffix
        // of the format's), or its own source.
        std::istringstream fields(targets.substr(line));
        std::string name, kind;
        fields >> name >> kind;
        const std::size_t dot = kind.find('.');
        if (dot != std::string::npos)
            EXPECT_NE(
                std::find(format.suffixes.begin(), format.suffixes.end(), kind.substr(dot + 1)),
                format.suffixes.end())
                << kind;
        else
            EXPECT_TRUE(QFileInfo::exists(fuzz + QString::fromStdString(target) + "_fuzzer.cpp"));
        EXPECT_FALSE(QDir(fuzz + "corpus/" + QString::fromStdString(target))
                         .entryList(QDir::Files)
                         .isEmpty());
    }
}

// make-corpus writes seeds for every fuzz target but hdf5 (whose seeds h5py writes), so that a
// target added without a writer of its seeds fails here rather than fuzzing from nothing.
TEST(FormatsTest, MakeCorpusSeedsEveryFuzzTarget) {
    ScratchDir scratch;
    QProcess run;
    run.start(MAKE_CORPUS, {QDir::currentPath()});
    ASSERT_TRUE(run.waitForFinished(120000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    std::istringstream lines(fileBytes(QString::fromStdString(sourceDir()) + "/fuzz/targets.txt"));
    int targets = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::string target = line.substr(0, line.find(' '));
        if (target.empty() || target[0] == '#' || target == "hdf5")
            continue;
        ++targets;
        EXPECT_FALSE(
            QDir(QString::fromStdString("fuzz/corpus/" + target)).entryList(QDir::Files).isEmpty())
            << target;
    }
    EXPECT_GT(targets, 20);
}

// The lists of formats people read without running the program: the README's and the package
// description's are the table's own (scripts/format-lists.sh writes them); the docs' table
// names every format by the word it uses for it, and the page of formats has a heading for each.
TEST(FormatsTest, EveryListOfFormatsNamesThemAll) {
    const QString root = QString::fromStdString(sourceDir()) + "/";
    // The text between a file's marks, its lines joined as a reader sees them.
    const auto marked = [](const std::string& text, const std::string& begin,
                           const std::string& end) {
        const std::size_t from = text.find('\n', text.find(begin)), to = text.find(end);
        if (text.find(begin) == std::string::npos || to == std::string::npos || to < from)
            return std::string();
        return QString::fromStdString(text.substr(from, to - from)).simplified().toStdString();
    };
    const std::string fix = "; run scripts/format-lists.sh";
    EXPECT_EQ(marked(fileBytes(root + "README.md"), "<!-- formats: begin", "<!-- formats: end"),
              "`pack` reads " + inputFormatList() + ".")
        << fix;
    EXPECT_EQ(
        marked(fileBytes(root + "packaging/CMakeLists.txt"), "# formats: begin", "# formats: end"),
        "set(converter_reads \"" + inputFormatList() + "\")")
        << fix;

    const std::map<std::string, const char*> listedAs = {
        {"slice pictures", "slice pictures"},
        {"multi-page TIFF", "TIFF"},
        {"NIfTI", "NIfTI"},
        {"NIfTI or Analyze pair", "Analyze"},
        {"DICOM", "DICOM"},
        {"MetaImage", "MetaImage"},
        {"NRRD", "NRRD"},
        {"MRC", "MRC"},
        {"MGH", "MGH"},
        {"FITS", "FITS"},
        {"VTK legacy", "VTK"},
        {"VTK XML image", "VTK XML"},
        {".npy", "NumPy"},
        {".npz", ".npz"},
        {"Zarr", "OME-Zarr"},
        {"HDF5", "HDF5"},
        {"MINC2", "MINC"},
        {".vol", "Tessary volume"},
        {"raw RGB bytes", "raw RGB"},
        {"raw samples (--raw)", "raw samples"},
    };
    const std::string docs = fileBytes(root + "docs/converter.md");
    const std::size_t at = docs.find("| format | recognised by |");
    ASSERT_NE(at, std::string::npos);
    const std::string table = docs.substr(at, docs.find("\n\n", at) - at);
    std::string headings;
    for (const QString& line :
         QString::fromStdString(fileBytes(root + "docs/formats.md")).split('\n'))
        if (line.startsWith('#'))
            headings += line.toLower().toStdString() + "\n";
    for (const InputFormat& format : inputFormats()) {
        const auto word = listedAs.find(format.name);
        ASSERT_NE(word, listedAs.end()) << format.name << ": say here how the docs name it";
        EXPECT_NE(table.find(word->second), std::string::npos)
            << format.name << " (" << word->second << ") is missing from the docs' table";
        EXPECT_NE(headings.find(QString(word->second).toLower().toStdString()), std::string::npos)
            << format.name << " has no section in docs/formats.md";
    }
}

// The desktop knows a format's files by its MIME types' globs: each suffix needs one or is left
// to other programs' files, and a type the package defines a comment that names it; none may be
// defined twice.
TEST(FormatsTest, EverySuffixHasAMimeType) {
    std::set<std::string> names;
    for (const InputFormat& format : inputFormats()) {
        SCOPED_TRACE(format.name);
        std::set<std::string> globs;
        for (const MimeType& type : format.mimeTypes) {
            EXPECT_TRUE(names.insert(type.name).second) << type.name << " twice";
            EXPECT_FALSE(type.suffixes.empty()) << type.name;
            EXPECT_TRUE(type.comment || !type.magic) << type.name << ": magic of another's type";
            globs.insert(type.suffixes.begin(), type.suffixes.end());
        }
        if (format.mimeTypes.empty())
            continue;
        for (const std::string& suffix : format.unclaimedSuffixes)
            EXPECT_TRUE(globs.insert(suffix).second) << suffix << " is claimed";
        for (const std::string& suffix : format.suffixes)
            EXPECT_TRUE(globs.count(suffix)) << suffix << " has no MIME type";
    }
    EXPECT_TRUE(names.count("application/x-tessary-volume"));
}

TEST(FormatsTest, HostileFilesAreRefusedInOneLine) {
    ScratchDir dir;
    ensureApplication();
    const std::string nrrd = "NRRD0004\ntype: uchar\ndimension: 3\n";
    std::string keyValues = nrrd + "sizes: 1 1 1\nencoding: raw\n";
    for (int i = 0; i < 200000; ++i)
        keyValues += "k" + std::to_string(i) + ":=v\n";
    writeFile("huge.nrrd", nrrd + "sizes: 100000 100000 1\nencoding: gzip\n\n" + gzip("x"));
    writeFile("claims.nrrd", nrrd + "sizes: 4096 4096 16\nencoding: gzip\n\n" + gzip("x"));
    writeFile("overflow.npy", npyFile("|u1", "(16, 1073741824, 1073741824)"));
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
    std::vector<TiffPage> pages(3);
    for (TiffPage& p : pages) {
        p.width = p.height = 4;
        p.samples.assign(16, 'x');
    }
    EXPECT_EQ(writeTiff("cut.tif", pages), "");
    const std::string tiff = fileBytes("cut.tif");
    writeFile("cut.tif", tiff.substr(0, tiff.rfind(std::string(16, 'x')) + 5));
    // A palette page in strips and a grey one in a tile, their compressed data damaged.
    for (const bool tiled : {false, true}) {
        TiffPage p;
        p.photometric = tiled ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
        p.tiled = tiled;
        p.width = p.height = tiled ? 16 : 64;
        p.compression = COMPRESSION_ADOBE_DEFLATE;
        for (int i = 0; i < p.width * p.height; ++i)
            p.samples += char(i * 7);
        EXPECT_EQ(writeTiff(tiled ? "tiled.tif" : "palette.tif", {p}), "");
        EXPECT_EQ(damageFirstBlock(tiled ? "tiled.tif" : "palette.tif"), "");
    }
    writeFile("garbage.tif", "II*\x00 garbage");
    makeNotAFile("f.png", NotAFile::Fifo); // a FIFO as the first slice, and linked to
    writeFile("out/1.png", "");
    ASSERT_TRUE(QFile::link("../f.png", "out/0.png"));
    makeNotAFile("in/f", NotAFile::Fifo);
    ASSERT_TRUE(QFile::link("f", "in/0.png"));
    writeFile("sizes/a.png", pngBytes(QImage(2, 1, QImage::Format_RGB888)));
    writeFile("sizes/b.png", pngBytes(QImage(1, 2, QImage::Format_RGB888)));
    writeFile("v.raw", std::string(25, 'x'));
    writeFile("s/x.txt", "text");
    // netCDF before netCDF-4, which is not HDF5: named, with what to convert it with.
    writeFile("classic.nc", std::string("CDF\x01\0\0\0\0", 8));
    writeFile("offset.nc", std::string("CDF\x02\0\0\0\0", 8));
    writeFile("short.vol", volumeFile(2, "v", std::vector<unsigned char>(23)));
    // NIfTI: NIfTI-2 sizes past any memory, a dimension count the library would walk the
    // header's sizes with far past their end, a FIFO.
    NiftiFile huge;
    huge.version = 2;
    huge.datatype = DT_FLOAT64;
    huge.dims = {std::int64_t(1) << 40, std::int64_t(1) << 40, 2};
    writeFile("huge.nii", niftiBytes(huge, std::string(64, '\0')));
    const QString corpus = QString::fromStdString(sourceDir()) + "/fuzz/corpus/";
    ASSERT_TRUE(QFile::copy(corpus + "nifti/regression-dim-count.nii", "dims.nii"));
    makeNotAFile("fifo.nii", NotAFile::Fifo);
    // MetaImage: samples a byte short, sizes past any memory, a slice past the memory check, a
    // data file that is a FIFO or a link out of the folder, zlib data cut in half.
    const std::string u8 = typedPattern(SampleType::UInt8, 3, 2, 4, 1), zipped = zlibBytes(u8);
    writeFile("short.mha", mhaHeader("", "LOCAL", "3 2 4") + u8.substr(1));
    writeFile("huge.mha", mhaHeader("", "LOCAL", "2000000000 2000000000 2000000000", "MET_DOUBLE"));
    writeFile("wide.mha", mhaHeader("", "LOCAL", "200000 200000 1", "MET_DOUBLE"));
    // A plane of gigabytes claimed by a few compressed bytes.
    writeFile("bomb.mha", mhaHeader("CompressedData = True\n", "LOCAL", "16384 16384 4") +
                              std::string(200, '\0'));
    makeNotAFile("fifo.raw", NotAFile::Fifo);
    writeFile("fifo.mhd", mhaHeader("", "fifo.raw", "1 1 1"));
    writeFile("outside.raw", u8);
    writeFile("links/x.mhd", mhaHeader("", "link.raw", "3 2 4"));
    ASSERT_TRUE(QFile::link("../outside.raw", "links/link.raw"));
    writeFile("cut.mha", mhaHeader("CompressedData = True\n", "LOCAL", "3 2 4") +
                             zipped.substr(0, zipped.size() / 2));
    // clang-format off
    // What is refused, the file the refusal names, and the reason it gives.
    const std::tuple<QStringList, std::string, std::string> cases[] = {
        {{"huge.nrrd"}, "huge.nrrd", "too large: 100000 x 100000 x 1 samples"},
        {{"claims.nrrd"}, "claims.nrrd", "bytes of gzip data can't hold 268435456 bytes of samples"},
        {{"overflow.npy"}, "overflow.npy", "too large"},
        {{"d/up.nhdr"}, "d/up.nhdr", "the data file ../secret is outside"},
        {{"d/fifo.nhdr"}, "d/fifo.nhdr", "the data file fifo is not a regular file"},
        {{"keys.nrrd"}, "keys.nrrd", "bad NRRD: more than 1000 key/value lines"},
        {{"kinds.nrrd"}, "kinds.nrrd", "bad NRRD: axis 0 kind RGB-color requires size 3"},
        {{"cut.tif"}, "cut.tif",
         "file too short or damaged: the directory after page 2 is missing"},
        {{"palette.tif"}, "palette.tif", "page 1: can't decode: "},
        {{"tiled.tif"}, "tiled.tif", "page 1: can't decode: "},
        {{"garbage.tif"}, "garbage.tif", "not a TIFF file: "},
        {{"f.png"}, "f.png", "can't open input file"},
        // A folder whose pictures can't be listed is taken for a DICOM series.
        {{"out"}, "out/0.png", "a link that leads out of the folder"},
        {{"in"}, "in", "no slice pictures or DICOM images"},
        {{"sizes/a.png", "sizes/b.png"}, "sizes/b.png",
         "slice size 1 x 2 differs from the first slice's 2 x 1"},
        {{"v.raw"}, "v.raw", "holds 25 bytes, not 3 * N^3 for any N: N = 2 takes 24"},
        {{"s/x.txt"}, "s/x.txt", "unsupported format (pack reads slice pictures, multi-page TIFF, "
                                  "NIfTI, NIfTI or Analyze pair, DICOM, MetaImage, NRRD, MRC, MGH, FITS, VTK legacy, VTK XML image, .npy, .npz, "
                                  "Zarr, HDF5, MINC2, .vol, raw RGB bytes and raw samples (--raw))"},
        {{"classic.nc"}, "classic.nc", "a netCDF-3 classic file, which pack does not read: "
                                        "convert it to netCDF-4 (nccopy -k nc4 FILE NEW.nc)"},
        {{"offset.nc"}, "offset.nc", "a netCDF-3 64-bit offset file, which pack does not read"},
        {{"short.vol"}, "short.vol", ""},
        {{"huge.nii"}, "huge.nii", "unsupported sizes"},
        {{"dims.nii"}, "dims.nii", "dimension count"},
        {{"fifo.nii"}, "fifo.nii", "can't open"},
        {{"short.mha"}, "short.mha", "truncated"},
        {{"huge.mha"}, "huge.mha", "too large"},
        {{"wide.mha"}, "wide.mha", "memory"},
        {{"bomb.mha"}, "bomb.mha", "can't hold"},
        {{"fifo.mhd"}, "", "fifo.raw: can't open the MetaImage data file"},
        {{"links/x.mhd"}, "links/x.mhd", "outside"},
        {{"cut.mha"}, "cut.mha", "truncated"},
    };
    // clang-format on
    for (const auto& [paths, named, reason] : cases) {
        SCOPED_TRACE(paths.join(" ").toStdString());
        const auto start = std::chrono::steady_clock::now();
        const ReaderOutcome outcome = checkReader(paths, {});
        EXPECT_EQ(outcome.broken, "");
        expectRefusal(outcome.refusal, named, reason);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

// An option that picks a part the input does not have is refused, never ignored; one it has is
// taken.
TEST(FormatsTest, OptionsForPartsAnInputHasNotAreRefused) {
    ScratchDir dir;
    ensureApplication();
    writeFile("v.nii", niftiBytes(NiftiFile(), std::string(8, '\1')));
    writeFile("v.npy", npyFile("|u1", "(2, 2, 2)") + std::string(8, '\1'));
    const struct {
        const char* input;
        InputSelection pick;
        const char* refusal; // "" where the option applies
    } cases[] = {
        {"v.nii", InputSelection(1, -1),
         "v.nii: --series does not apply to NIfTI, which holds one "
         "volume (it picks a part of DICOM)"},
        {"v.npy", InputSelection(-1, 0), "v.npy: --volume does not apply to .npy"},
        {"v.nii", InputSelection(-1, 0), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TypedSource source;
        const std::string failure = openPackInput({c.input}, c.pick, &source);
        EXPECT_EQ(failure.rfind(c.refusal, 0), 0u) << failure;
        EXPECT_EQ(failure.empty(), *c.refusal == '\0') << failure;
    }
    InputSelection dataset;
    dataset.dataset = "/x";
    TypedSource source;
    expectRefusal(openPackInput({"v.nii"}, dataset, &source),
                  "v.nii: ", "--dataset does not apply to NIfTI");
}
