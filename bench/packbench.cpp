#include "packbench.h"

#include "formatinputs.h"

#include "memory.h"

#include "formattable.h"
#include "text.h"
#include "packplan.h"
#include "demovolumes.h"
#include "samplemap.h"
#include "pictures/pictureslices.h"
#include "pictures/pictures.h"
#include "slicestream.h"
#include "vol.h"
#include "volumefile.h"

#include "dicomfiles.h"
#include "niftifiles.h"

#include <gdcmImageReader.h>
#include <nifti2_io.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QBuffer>
#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A slice with the mix of smooth change and fine noise of a real solid texture, so that PNG
// works about as hard as on one.
QImage testSlice(int z, int side) {
    QImage image(side, side, QImage::Format_RGB888);
    for (int y = 0; y < side; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < side; ++x) {
            std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u ^
                              std::uint32_t(z) * 83492791u;
            h = (h ^ (h >> 13)) * 0x5bd1e995u;
            row[3 * x] = uchar((x + z) / 2);
            row[3 * x + 1] = uchar((y + 2 * z) / 3);
            row[3 * x + 2] = uchar(128 + (h >> 24) % 32);
        }
    }
    return image;
}

// Slices of uniform noise, which no compression shrinks: the worst case for time and size.
std::vector<QImage> noiseSlices(int count, int side) {
    std::mt19937 random(1);
    std::vector<QImage> slices;
    for (int z = 0; z < count; ++z) {
        QImage image(side, side, QImage::Format_RGB888);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < 3 * side; ++x)
                image.scanLine(y)[x] = uchar(random());
        slices.push_back(image);
    }
    return slices;
}

// Every slice of the bundled sample volumes, as unpack writes them.
std::vector<QImage> sampleSlices(const QDir& dir) {
    std::vector<QImage> slices;
    if (!writeSamples(dir.filePath("samples"), false).empty())
        return slices;
    for (const QString& name : QDir(dir.filePath("samples")).entryList({"*.vol"})) {
        SliceSource source;
        VolumeHeader header;
        if (!openVolumeSource(dir.filePath("samples/" + name), &source, &header).empty())
            continue;
        std::vector<unsigned char> rgb(std::size_t(3) * source.width * source.height);
        for (int z = 0; z < source.depth && source.read(z, rgb.data()).empty(); ++z)
            slices.push_back(slicePicture(rgb.data(), source.width, source.width));
    }
    return slices;
}

// Encodes the slices as PNG in memory at a compression (-1: Qt's default): milliseconds and
// bytes a slice.
std::pair<double, double> encodeSlices(const std::vector<QImage>& slices, int compression) {
    double bytes = 0;
    const auto start = Clock::now();
    for (const QImage& slice : slices) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setCompression(compression);
        writer.write(slice);
        bytes += double(buffer.size());
    }
    const double count = double(std::max<std::size_t>(slices.size(), 1));
    return {secondsSince(start) * 1000 / count, bytes / count};
}

// The choice behind slicePngCompression: time and size against Qt's default compression on
// the samples, on slices like the packing test's and on noise.
void benchmarkSliceCompression(const QDir& dir, int side) {
    const std::pair<const char*, std::vector<QImage>> sets[] = {
        {"samples (all slices)", sampleSlices(dir)},
        {"solid texture",
         [&] {
             std::vector<QImage> slices;
             for (int z = 0; z < 32; ++z)
                 slices.push_back(testSlice(z * 8, side));
             return slices;
         }()},
        {"noise", noiseSlices(16, side)}};
    std::printf("\nPNG slices at Qt's default compression (zlib level 6) and at unpack's (%d, "
                "zlib level 1); time and size a slice\n",
                slicePngCompression);
    std::printf("%-22s %6s %11s %11s %11s %11s %7s %7s\n", "slices", "count", "default ms",
                "default KB", "unpack ms", "unpack KB", "faster", "larger");
    for (const auto& [name, slices] : sets) {
        const auto [defaultMs, defaultBytes] = encodeSlices(slices, -1);
        const auto [unpackMs, unpackBytes] = encodeSlices(slices, slicePngCompression);
        std::printf("%-22s %6zu %11.2f %11.1f %11.2f %11.1f %7.2f %7.2f\n", name, slices.size(),
                    defaultMs, defaultBytes / 1e3, unpackMs, unpackBytes / 1e3,
                    defaultMs / unpackMs, unpackBytes / defaultBytes);
    }
    std::printf("larger: unpack's size over the default's (target <= 1.50)\n");
}

const int packRuns = 3;
// Whole processes vary more from run to run (start-up, the output's write-back): more runs, so
// that the best of them is the steady cost of each side.
const int processRuns = 7;

struct Stage {
    const char* name;
    int runs; // the best of these is shown
    double seconds;
    double aloneSeconds;
    double peak;
};

// Runs body, returning its seconds and, in *peak, its peak memory above what the process held
// before it (other sections of the benchmark may have left memory behind).
double measure(const std::function<void()>& body, double* peak) {
    malloc_trim(0); // what earlier work freed goes back to the system and out of the figure
    resetPeakRss();
    const double before = kibToMb(procStatusKiB("VmRSS"));
    const auto start = Clock::now();
    body();
    const double seconds = secondsSince(start);
    *peak = kibToMb(procStatusKiB("VmHWM")) - before;
    return seconds;
}
} // namespace

void benchmarkPacking(int slices, int side) {
    QTemporaryDir scratch;
    const QDir dir(scratch.path());
    dir.mkdir("in");
    const QString volume = dir.filePath("packed.vol");
    std::vector<QString> names;
    for (int z = 0; z < slices; ++z) {
        names.push_back(dir.filePath(QString("in/slice_%1.png").arg(z, 4, 10, QChar('0'))));
        testSlice(z, side).save(names.back(), "PNG");
    }
    const bool perStage = resetPeakRss();
    std::string failure;
    std::vector<Stage> stages;

    double decodePeak = 0, packPeak = 0, encodePeak = 0, unpackPeak = 0;
    const auto decodeAll = [&] {
        QImage image;
        for (const QString& name : names)
            QImageReader(name).read(&image);
    };
    const auto packAll = [&] {
        QStringList files;
        TypedSource typed;
        SliceSource source, cube;
        SliceSink sink;
        VolumeHeader header;
        header.name = "packed";
        header.size = side;
        failure = listSliceFiles({dir.filePath("in")}, &files);
        if (failure.empty())
            failure = openSliceSource(files, &typed);
        ChannelMap map;
        if (failure.empty())
            failure = defaultChannelMap(typed.info, &map);
        if (failure.empty())
            source = mapToRgb(typed, map, SampleWindow{true, 0, 255});
        if (failure.empty())
            failure = fitToCube(source, CubeFit::Refuse, "in", &cube);
        if (failure.empty())
            failure = openVolumeSink(volume, header, &sink);
        if (failure.empty())
            failure = streamSlices(cube, sink, "packing");
    };
    // Packing takes seconds: the best of a few runs, each beside its baseline, shrugs off other
    // work on the machine. Unpacking, a minute of PNG encoding, runs once.
    double decode = 1e30, pack = 1e30;
    for (int run = 0; run < packRuns; ++run) {
        QFile::remove(volume); // replacing a file would add its removal to the time
        decode = std::min(decode, measure(decodeAll, &decodePeak));
        pack = std::min(pack, measure(packAll, &packPeak));
    }
    stages.push_back({"pack: PNG slices to .vol", packRuns, pack, decode, packPeak});

    // Encoding alone: the same slices as unpack writes them, each made outside the timing.
    double encode = 0;
    measure(
        [&] {
            for (int z = 0; z < slices; ++z) {
                const QImage image = testSlice(z, side); // unpack gives back the packed slices
                const auto start = Clock::now();
                QImageWriter writer(dir.filePath("alone.png"), "png");
                writer.setCompression(slicePngCompression);
                writer.write(image);
                encode += secondsSince(start);
            }
        },
        &encodePeak);
    const double unpack = measure(
        [&] {
            SliceSource source;
            SliceSink sink;
            VolumeHeader header;
            std::string unpacked = openVolumeSource(volume, &source, &header);
            if (unpacked.empty())
                unpacked = openSliceFolderSink(dir.filePath("out"), side, &sink);
            if (unpacked.empty())
                unpacked = streamSlices(source, sink, "unpacking");
            if (failure.empty())
                failure = unpacked;
        },
        &unpackPeak);
    stages.push_back({"unpack: .vol to PNG slices", 1, unpack, encode, unpackPeak});

    std::printf("\nPacking %d PNG slices of %d x %d (%.0f MB of samples); alone = decoding "
                "(pack) or encoding (unpack) the same slices in this run\n",
                slices, side, side, 3.0 * side * side * slices / 1e6);
    if (!failure.empty())
        std::printf("FAILED: %s\n", failure.c_str());
    std::printf("%-28s %5s %9s %9s %7s %8s %9s\n", "stage", "runs", "seconds", "alone", "ratio",
                "target", "peak MB");
    for (const Stage& s : stages)
        std::printf("%-28s %5d %9.3f %9.3f %7.2f %8s %9.1f\n", s.name, s.runs, s.seconds,
                    s.aloneSeconds, s.seconds / s.aloneSeconds, "<= 1.20", s.peak);
    std::printf("seconds: the best of the runs; peak MB: each stage's peak resident memory above "
                "what the process held before it%s; "
                "decoding alone peaked at "
                "%.1f MB, encoding alone at %.1f MB\n",
                perStage ? "" : " (here: the process's, the kernel cannot reset it)", decodePeak,
                encodePeak);
    std::printf("unpack's target: at most 15 s for 512 slices of 512 x 512 on two cores\n");
    benchmarkSliceCompression(dir, side);
}

namespace {
// A CT-like int16 sample: a body of soft values around a dense core, air around it, and noise.
std::int16_t ctSample(int x, int y, int z, int side) {
    const double dx = x - side / 2.0, dy = y - side / 2.0;
    const double r = std::sqrt(dx * dx + dy * dy) / side;
    std::uint32_t h =
        std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u ^ std::uint32_t(z) * 83492791u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    const int noise = int(h >> 26) - 32;
    return std::int16_t((r < 0.12 ? 1200 : r < 0.4 ? 40 : -1000) + noise);
}

// The samples of a width x height x depth int16 volume, x fastest, then y, then z.
std::string ctSamples(int width, int height, int depth) {
    std::vector<std::int16_t> samples;
    samples.reserve(std::size_t(width) * std::size_t(height) * std::size_t(depth));
    for (int z = 0; z < depth; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                samples.push_back(ctSample(x, y, z, width));
    return std::string(reinterpret_cast<const char*>(samples.data()),
                       samples.size() * sizeof(std::int16_t));
}

// Writes the volume as an int16 NIfTI-1 file (gzip when path ends in .gz), 1 mm apart.
bool writeNiftiVolume(const QString& path, int width, int height, int depth) {
    NiftiFile file;
    file.datatype = NIFTI_TYPE_INT16;
    file.dims = {width, height, depth};
    file.spacing[0] = file.spacing[1] = file.spacing[2] = 1;
    return writeNifti(QFile::encodeName(path).toStdString(), file, ctSamples(width, height, depth))
        .empty();
}

// Reads a NIfTI file's samples slice by slice through nifti_clib, as a reader streams them.
bool readNiftiAlone(const QString& path) {
    nifti_image* header = nifti_image_read(QFile::encodeName(path).constData(), 0);
    if (!header)
        return false;
    const std::size_t sliceBytes =
        std::size_t(header->nx) * std::size_t(header->ny) * std::size_t(header->nbyper);
    std::vector<char> slice(sliceBytes);
    znzFile file = znzopen(header->iname, "rb", nifti_is_gzfile(header->iname));
    bool good = !znz_isnull(file) && znzseek(file, header->iname_offset, SEEK_SET) >= 0;
    for (std::int64_t z = 0; good && z < header->nz; ++z)
        good = znzread(slice.data(), 1, sliceBytes, file) == sliceBytes;
    if (!znz_isnull(file))
        znzclose(file);
    nifti_image_free(header);
    return good;
}

// Writes the same volume as a DICOM CT series through GDCM, a file a slice, 1 mm apart, in the
// transfer syntax.
bool writeDicomSeries(
    const QString& folder, int width, int height, int depth,
    gdcm::TransferSyntax::TSType syntax = gdcm::TransferSyntax::ExplicitVRLittleEndian) {
    const std::string samples = ctSamples(width, height, depth);
    const std::size_t bytes = samples.size() / std::size_t(depth);
    DicomSlice slice;
    slice.uid = "1.2.826.0.1.3680043.2.1125.7";
    slice.columns = width;
    slice.rows = height;
    slice.spacing[0] = slice.spacing[1] = 1;
    slice.syntax = syntax;
    for (int z = 0; z < depth; ++z) {
        slice.z = z;
        slice.instance = z + 1; // dcm2niix sorts by it
        slice.pixels = samples.substr(std::size_t(z) * bytes, bytes);
        const QString name = QDir(folder).filePath(QString("slice%1.dcm").arg(z));
        if (!writeDicom(QFile::encodeName(name).toStdString(), slice).empty())
            return false;
    }
    return true;
}

// Reads every file of a DICOM folder's samples through GDCM, as a reader does.
bool readDicomAlone(const QString& folder) {
    std::vector<char> pixels;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        gdcm::ImageReader reader;
        reader.SetFileName(QFile::encodeName(QDir(folder).filePath(name)).constData());
        if (!reader.Read())
            return false;
        pixels.resize(reader.GetImage().GetBufferLength());
        if (!reader.GetImage().GetBuffer(pixels.data()))
            return false;
    }
    return true;
}

// A process run to its end: its seconds and peak resident memory.
struct ProcessRun {
    bool ok = false;
    double seconds = 0, peak = 0;
    std::string output; // the end of what a failed process printed
};

// Runs args (the program found on PATH where it has no slash), its output dropped.
ProcessRun runProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ProcessRun run;
    QTemporaryFile output;
    output.open();
    const int outputFd = output.handle();
    // A pipe that closes when the child has exec'd: until then the child is a copy of this
    // process and its VmHWM is ours, as is the rusage of a child forked from us.
    int execed[2];
    if (pipe2(execed, O_CLOEXEC) != 0)
        return run;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outputFd, 1);
        dup2(outputFd, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ::close(execed[1]);
    char byte;
    while (pid > 0 && ::read(execed[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(execed[0]);
    // VmHWM of the program itself, read until it ends.
    int status = 0;
    while (pid > 0) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0)
            return run;
        QFile file(QString("/proc/%1/status").arg(pid));
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    run.peak =
                        std::max(run.peak, kibToMb(line.mid(6).trimmed().split(' ')[0].toLong()));
        usleep(2000);
    }
    if (pid < 0)
        return run;
    run.seconds = secondsSince(start);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok) {
        output.seek(0);
        run.output = output.readAll().right(300).toStdString();
    }
    return run;
}

// One row: a pack against its baseline, each the best of processRuns runs taken in turn.
struct ProcessRow {
    std::string name;
    std::vector<std::string> pack, alone;
    double target;
    ProcessRun best, bestAlone;
};

std::string runRow(ProcessRow* row, const QString& volume) {
    row->best.seconds = row->bestAlone.seconds = 1e30;
    for (int run = 0; run < processRuns; ++run) {
        QFile::remove(volume);
        sync(); // the last output's removal written out, not running beside either process
        const ProcessRun alone = runProcess(row->alone);
        const ProcessRun pack = runProcess(row->pack);
        if (!alone.ok || !pack.ok)
            return (alone.ok ? row->pack[0] + " failed: " + pack.output
                             : row->alone[0] + " failed: " + alone.output);
        if (alone.seconds < row->bestAlone.seconds)
            row->bestAlone = alone;
        if (pack.seconds < row->best.seconds)
            row->best = pack;
    }
    return std::string();
}
} // namespace

int readAlone(const char* kind, const char* path) {
    const std::string what = kind;
    if (what == "dicom")
        return readDicomAlone(QFile::decodeName(path)) ? 0 : 1;
    if (what == "nifti")
        return readNiftiAlone(QFile::decodeName(path)) ? 0 : 1;
    return readFormatAlone(what, QFile::decodeName(path));
}

int readWriteAlone(const char* kind, const char* path, std::uint64_t bytes, const char* out) {
    if (readAlone(kind, path) != 0)
        return 1;
    const int fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    const std::vector<char> block(std::size_t(1) << 20, '\x5a');
    bool written = true;
    for (std::uint64_t done = 0; written && done < bytes;) {
        const std::size_t size = std::size_t(std::min<std::uint64_t>(block.size(), bytes - done));
        const ssize_t n = ::write(fd, block.data(), size);
        written = n > 0;
        done += written ? std::uint64_t(n) : 0;
    }
    written = fsync(fd) == 0 && written;
    return ::close(fd) == 0 && written ? 0 : 1;
}

// What inflating costs a pack (the .nii.gz's pack less the plain .nii's) against zlib inflating
// the same stream alone, through nifti_clib. ISA-L inflates the packs.
void printInflateCost(const std::vector<ProcessRow>& rows) {
    const ProcessRow *gzip = nullptr, *plain = nullptr;
    for (const ProcessRow& row : rows) {
        gzip = row.name == ".nii.gz: range" ? &row : gzip;
        plain = row.name == ".nii, the same samples" ? &row : plain;
    }
    if (!gzip || !plain || gzip->best.seconds >= 1e30 || plain->best.seconds >= 1e30)
        return;
    const double cost = gzip->best.seconds - plain->best.seconds;
    std::printf("%-28s %5d %9.3f %9.3f %7.2f %8s\n", "  inflating (ISA-L) vs zlib", processRuns,
                cost, gzip->bestAlone.seconds, cost / gzip->bestAlone.seconds, "<= 0.60");
}

const ProcessRow* namedRow(const std::vector<ProcessRow>& rows, const std::string& name) {
    for (const ProcessRow& row : rows)
        if (row.name == name && row.best.seconds < 1e30)
            return &row;
    return nullptr;
}

// What decompressing costs each tool: its run on the compressed series less its run on the same
// series uncompressed; the pack's cost against dcm2niix's.
void printDecompressionCost(const std::vector<ProcessRow>& rows) {
    const ProcessRow* plain = namedRow(rows, "  against dcm2niix");
    const std::tuple<const char*, const char*, const char*> codecs[] = {
        {"  RLE: cost vs dcm2niix's", "  RLE, against uncompressed", "  RLE, against dcm2niix"},
        {"  JPEG 2000: cost vs theirs", "  JPEG 2000, against uncompr.", "  JPEG 2000, dcm2niix"}};
    for (const auto& [label, ownName, theirName] : codecs) {
        const ProcessRow *own = namedRow(rows, ownName), *theirs = namedRow(rows, theirName);
        if (!plain || !own || !theirs)
            continue;
        const double cost = own->best.seconds - own->bestAlone.seconds;
        const double theirCost = theirs->bestAlone.seconds - plain->bestAlone.seconds;
        // Within the runs' noise of nothing, dcm2niix's cost gives no ratio.
        const std::string ratio =
            theirCost > 0.01 ? formatString("%7.2f", cost / theirCost) : "      -";
        std::printf("%-28s %5d %9.3f %9.3f %s %8s\n", label, processRuns, cost, theirCost,
                    ratio.c_str(), "<= 1.10");
    }
}

void benchmarkTypedPacking(int width, int height, int depth) {
    QTemporaryDir scratch;
    // The inputs kept for profiling a pack by hand.
    scratch.setAutoRemove(qEnvironmentVariableIsEmpty("TESSARY_BENCH_KEEP"));
    if (!scratch.autoRemove())
        std::printf("inputs kept in %s\n", qPrintable(scratch.path()));
    const QDir dir(scratch.path());
    const QString nifti = dir.filePath("ct.nii.gz"), plain = dir.filePath("ct.nii"),
                  dicom = dir.filePath("ct"), volume = dir.filePath("ct.vol"),
                  rle = dir.filePath("ct-rle"), jpeg2000 = dir.filePath("ct-jpeg2000");
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const std::string tool = QDir(QCoreApplication::applicationDirPath())
                                 .filePath("../converter/tessary-vol")
                                 .toStdString();
    const std::string out = volume.toStdString();
    const auto pack = [&](const QString& input, std::vector<std::string> options) {
        std::vector<std::string> args = {tool, "pack", input.toStdString(), "-o", out, "--crop"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    };
    const std::vector<std::string> inflate = {self, "--read-alone", "nifti", nifti.toStdString()};
    const std::vector<std::string> gdcmLoop = {self, "--read-alone", "dicom", dicom.toStdString()};
    std::vector<ProcessRow> rows = {
        {"DICOM series: range", pack(dicom, {}), gdcmLoop, 3.0, {}, {}},
        // Decompressing may cost at most a share of the uncompressed pack: the bound is that pack.
        {"  RLE, against uncompressed", pack(rle, {}), pack(dicom, {}), 1.3, {}, {}},
        {"  JPEG 2000, against uncompr.", pack(jpeg2000, {}), pack(dicom, {}), 0, {}, {}},
        {".nii.gz: range", pack(nifti, {}), inflate, 1.4, {}, {}},
        {"  with --window", pack(nifti, {"--window", "-1000,2000"}), inflate, 1.15, {}, {}},
        {"  with --size 256", pack(nifti, {"--size", "256"}), inflate, 1.6, {}, {}},
        {".nii, the same samples", pack(plain, {}), inflate, 0, {}, {}}};
    // The formats of a reference library or a plain layout, each against its reference read.
    const std::pair<const char*, const char*> formats[] = {{"mrc", "MRC: range"},
                                                           {"nrrd", "NRRD gzip: range"},
                                                           {"mgz", "MGH .mgz: range"},
                                                           {"fits", "FITS: range"}};
    // The cropped cube's .vol, which the uncompressed formats' packs spend most of their time
    // writing.
    const int side = std::min({width, height, depth});
    const std::string volBytes =
        std::to_string(std::uint64_t(side) * side * side * 3 + volumeLayout::headerSize);
    for (const auto& [kind, name] : formats) {
        const QString input = dir.filePath(QString("ct.") + kind);
        rows.push_back({name,
                        pack(input, {}),
                        {self, "--read-alone", kind, input.toStdString()},
                        1.5,
                        {},
                        {}});
        if (std::string(kind) == "mrc" || std::string(kind) == "fits")
            rows.push_back({"  against read and write",
                            pack(input, {}),
                            {self, "--read-write-alone", kind, input.toStdString(), volBytes, out},
                            1.5,
                            {},
                            {}});
    }
    const std::string dcm2niix = QStandardPaths::findExecutable("dcm2niix").toStdString();
    if (!dcm2niix.empty()) {
        dir.mkdir("nii");
        const auto against = [&](const char* name, const QString& input, double target) {
            return ProcessRow{
                name,
                pack(input, {}),
                {dcm2niix, "-o", dir.filePath("nii").toStdString(), "-f", "x", input.toStdString()},
                target,
                {},
                {}};
        };
        rows.insert(rows.begin() + 1, against("  against dcm2niix", dicom, 1.0));
        rows.insert(rows.begin() + 3, against("  RLE, against dcm2niix", rle, 0));
        rows.insert(rows.begin() + 5, against("  JPEG 2000, dcm2niix", jpeg2000, 0));
    }
    std::printf(
        "\nPacking a %d x %d x %d int16 volume as a DICOM series of %d files (GDCM) and as a "
        "NIfTI-1 .nii.gz (nifti_clib), and as MRC, NRRD (gzip), MGH .mgz and FITS, each "
        "written here, with --crop to the cube: whole tessary-vol processes against a process "
        "that reads the same input alone (a GDCM read loop over the files; one inflate; a plain "
        "read of the MRC file, as mrcfile's; teem's nrrdLoad; the .mgz's gzip stream, as "
        "nibabel's; cfitsio slice by slice), or against dcm2niix\n",
        width, height, depth, depth);
    std::string failure;
    if (!writeDicomSeries(dicom, width, height, depth) ||
        !writeDicomSeries(rle, width, height, depth, gdcm::TransferSyntax::RLELossless) ||
        !writeDicomSeries(jpeg2000, width, height, depth, gdcm::TransferSyntax::JPEG2000Lossless) ||
        !writeNiftiVolume(nifti, width, height, depth) ||
        !writeNiftiVolume(plain, width, height, depth) ||
        !writeFormatInputs(dir.path(), "ct", width, height, depth, ctSamples(width, height, depth)))
        failure = "can't write the inputs";
    sync(); // the inputs' write-back done, not running beside the processes timed
    std::printf("%-28s %5s %9s %9s %7s %8s %9s %9s\n", "stage", "runs", "seconds", "alone", "ratio",
                "target", "peak MB", "alone MB");
    for (ProcessRow& row : rows) {
        const std::string rowFailure = failure.empty() ? runRow(&row, volume) : failure;
        if (!rowFailure.empty()) {
            std::printf("%-28s FAILED: %s\n", row.name.c_str(), rowFailure.c_str());
            continue;
        }
        std::printf("%-28s %5d %9.3f %9.3f %7.2f %8s %9.1f %9.1f\n", row.name.c_str(), processRuns,
                    row.best.seconds, row.bestAlone.seconds,
                    row.best.seconds / row.bestAlone.seconds,
                    row.target > 0 ? formatString("<= %.2f", row.target).c_str() : "-",
                    row.best.peak, row.bestAlone.peak);
    }
    printInflateCost(rows);
    printDecompressionCost(rows);
    std::printf("ratio: the pack process over the one beside it; seconds: the best of the runs; "
                "peak MB: each process's peak resident memory; a cost: the run on the compressed "
                "series less the run on the same series uncompressed\n");
}
