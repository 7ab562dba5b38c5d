#include "packbench.h"

#include "memory.h"

#include "packinput.h"
#include "packplan.h"
#include "slices.h"
#include "volumestream.h"

#include <nifti2_io.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
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

const int packRuns = 3;

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
        SliceSource source, cube;
        SliceSink sink;
        VolumeHeader header;
        header.name = "packed";
        header.size = side;
        failure = listSliceFiles({dir.filePath("in")}, &files);
        if (failure.empty())
            failure = openSliceSource(files, &source);
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
                QImageWriter(dir.filePath("alone.png"), "png").write(image);
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

// Writes a width x height x depth int16 NIfTI-1 file (gzip when path ends in .gz).
bool writeNifti(const QString& path, int width, int height, int depth) {
    const std::int64_t dims[8] = {3, width, height, depth, 1, 1, 1, 1};
    nifti_image* image = nifti_make_new_nim(dims, NIFTI_TYPE_INT16, 1);
    if (!image)
        return false;
    auto* samples = static_cast<std::int16_t*>(image->data);
    for (int z = 0; z < depth; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                *samples++ = ctSample(x, y, z, width);
    const bool named = nifti_set_filenames(image, QFile::encodeName(path).constData(), 0, 1) == 0;
    if (named)
        nifti_image_write(image);
    nifti_image_free(image);
    return named;
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

// Packs path as tessary-vol pack does with the given options' settings.
std::string packTyped(const QString& path, const PackSettings& settings, const QString& volume) {
    TypedSource source;
    PackPlan plan;
    std::string failure = openPackInput({path}, -1, &source);
    if (failure.empty())
        failure = planPack(source, settings, path, &plan);
    SliceSink sink;
    VolumeHeader header;
    header.name = "packed";
    header.size = plan.n;
    if (failure.empty())
        failure = openVolumeSink(volume, header, &sink);
    return failure.empty() ? streamSlices(plan.rgb, sink, "packing") : failure;
}
} // namespace

void benchmarkTypedPacking(int width, int height, int depth) {
    QTemporaryDir scratch;
    const QDir dir(scratch.path());
    const QString nifti = dir.filePath("ct.nii.gz"), volume = dir.filePath("ct.vol");
    std::string failure =
        writeNifti(nifti, width, height, depth) ? "" : "can't write " + nifti.toStdString();
    malloc_trim(0);
    PackSettings plain;
    plain.fit = CubeFit::Crop;
    PackSettings window = plain, resized = plain;
    window.windowGiven = true;
    window.windowLo = -1000;
    window.windowHi = 2000;
    resized.size = 256;
    struct Row {
        const char* name;
        PackSettings settings;
        const char* target;
        double seconds = 1e30, alone = 1e30, peak = 0;
    } rows[] = {{"pack int16 .nii.gz: range", plain, "<= 2.20"},
                {"  with --window", window, "<= 1.20"},
                {"  with --size 256", resized, "<= 2.20"}};
    double alonePeak = 0;
    for (Row& row : rows)
        for (int run = 0; failure.empty() && run < packRuns; ++run) {
            QFile::remove(volume);
            bool read = true;
            row.alone =
                std::min(row.alone, measure([&] { read = readNiftiAlone(nifti); }, &alonePeak));
            if (!read)
                failure = nifti.toStdString() + ": nifti_clib can't read it back";
            double peak = 0;
            row.seconds =
                std::min(row.seconds,
                         measure([&] { failure = packTyped(nifti, row.settings, volume); }, &peak));
            row.peak = std::max(row.peak, peak);
        }
    std::printf("\nPacking a %d x %d x %d int16 NIfTI-1 .nii.gz (written by nifti_clib; --crop to "
                "the cube); alone = reading its samples slice by slice through nifti_clib\n",
                width, height, depth);
    if (!failure.empty()) {
        std::printf("FAILED: %s\n", failure.c_str());
        return;
    }
    std::printf("%-28s %5s %9s %9s %7s %8s %9s\n", "stage", "runs", "seconds", "alone", "ratio",
                "target", "peak MB");
    for (const Row& row : rows)
        std::printf("%-28s %5d %9.3f %9.3f %7.2f %8s %9.1f\n", row.name, packRuns, row.seconds,
                    row.alone, row.seconds / row.alone, row.target, row.peak);
    std::printf("ratio: pack over one read alone (the range takes a second read); peak MB: above "
                "what the process held (target <= 64), reading alone peaked at %.1f MB\n",
                alonePeak);
}
