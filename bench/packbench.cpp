#include "packbench.h"

#include "memory.h"

#include "slices.h"
#include "volumestream.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <chrono>
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
        TypedSource typed;
        SliceSource source, cube;
        SliceSink sink;
        VolumeHeader header;
        header.name = "packed";
        header.size = side;
        failure = listSliceFiles({dir.filePath("in")}, &files);
        if (failure.empty())
            failure = openSliceSource(files, &typed);
        if (failure.empty())
            failure = typedToRgb(typed, &source);
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
