// tessary-bench: times the viewer's volume loader and its frame drawing, each against a
// reference measured in the same run, and prints the process's peak resident memory. It
// prints figures; nothing in it passes or fails.
//
// It needs an X display: the viewer's real window and GL context are used. Scratch files (up
// to 3 * N^3 bytes of samples per volume) go to a temporary folder, removed at the end.

#include <GL/glew.h>

#include "fatalerror.h"
#include "frame.h"
#include "glpanel.h"
#include "files.h"
#include "systemmemory.h"
#include "text.h"
#include "mainwindow.h"
#include "memory.h"
#include "modelbench.h"
#include "hdf5bench.h"
#include "packbench.h"
#include "scene.h"
#include "scratchdir.h"
#include "state.h"
#include "volume.h"
#include "volumefile.h"
#include "synthbench.h"
#include "zarrbench.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Megabytes are 10^6 bytes throughout.
double megabytes(double bytes) {
    return bytes / 1e6;
}

struct Options {
    std::vector<int> sizes{64, 128, 256, 512};
    int frames = 100;
    int repeats = 5;
    bool volumes = true;
    bool framesWanted = true;
    int packingSide = 0;          // 0: no packing section
    int pyramidSide = 0;          // 0: no HDF5 pyramid section (--packing runs it at twice)
    long long modelTriangles = 0; // 0: no model section
    int zarrSide = 0;             // 0: no Zarr section
    bool synth = false;           // tessary-vol synth's section
};

void usage() {
    std::printf("usage: tessary-bench [--sizes 64,128,256,512] [--frames N] [--repeats N]\n"
                "                     [--skip-volumes] [--skip-frames] [--packing [SIDE]]\n"
                "                     [--models [TRIANGLES]] [--zarr [SIDE]] [--pyramid [SIDE]]\n"
                "                     [--synth]\n");
}

bool parseOptions(int argc, char* argv[], Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--sizes" && hasValue) {
            options->sizes.clear();
            for (const QString& part : QString(argv[++i]).split(',', Qt::SkipEmptyParts)) {
                bool ok = false;
                const int n = part.trimmed().toInt(&ok);
                if (!ok || n <= 0 || n > volumeLayout::maxSize)
                    return false;
                options->sizes.push_back(n);
            }
            if (options->sizes.empty())
                return false;
        } else if (arg == "--frames" && hasValue) {
            options->frames = std::atoi(argv[++i]);
            if (options->frames <= 0)
                return false;
        } else if (arg == "--repeats" && hasValue) {
            options->repeats = std::atoi(argv[++i]);
            if (options->repeats <= 0)
                return false;
        } else if (arg == "--skip-volumes") {
            options->volumes = false;
        } else if (arg == "--skip-frames") {
            options->framesWanted = false;
        } else if (arg == "--packing") {
            options->packingSide = 512;
            if (hasValue && argv[i + 1][0] != '-')
                options->packingSide = std::atoi(argv[++i]);
            if (options->packingSide <= 0)
                return false;
        } else if (arg == "--synth") {
            options->synth = true;
        } else if (arg == "--zarr") {
            options->zarrSide = 1024;
            if (hasValue && argv[i + 1][0] != '-')
                options->zarrSide = std::atoi(argv[++i]);
            if (options->zarrSide < 64 || options->zarrSide > 4096)
                return false;
        } else if (arg == "--pyramid") {
            options->pyramidSide = 1024;
            if (hasValue && argv[i + 1][0] != '-')
                options->pyramidSide = std::atoi(argv[++i]);
            if (options->pyramidSide < 64)
                return false;
        } else if (arg == "--models") {
            options->modelTriangles = 1400000; // a scanned model's size
            if (hasValue && argv[i + 1][0] != '-')
                options->modelTriangles = std::atoll(argv[++i]);
            if (options->modelTriangles < 8 || options->modelTriangles > 100000000)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Statistics

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const std::size_t rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

double median(const std::vector<double>& values) {
    return percentile(values, 0.5);
}

double best(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

double mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / double(values.size());
}

// Drains and reports pending GL errors, so a broken run does not print plausible figures.
void reportGlErrors(const char* where) {
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
        std::printf("  warning: GL error 0x%04x after %s\n", error, where);
}

void processEventsFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// ---------------------------------------------------------------------------------------
// Volume loading

// Writes a .vol file one z-slab at a time, so the benchmark itself never holds the samples.
bool writeVolume(const std::string& path, int n, const std::string& imageName) {
    FileHandle file = openFile(path.c_str(), "wb");
    if (!file)
        return false;
    VolumeHeader header;
    header.name = imageName;
    header.size = n;
    const std::vector<unsigned char> headerBytes = encodeVolumeHeader(header);
    if (std::fwrite(headerBytes.data(), 1, headerBytes.size(), file.get()) != headerBytes.size())
        return false;
    std::vector<unsigned char> slab(3 * std::size_t(n) * std::size_t(n));
    for (int z = 0; z < n; ++z) {
        unsigned char* p = slab.data();
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                *p++ = static_cast<unsigned char>(x ^ z);
                *p++ = static_cast<unsigned char>(y + 3 * z);
                *p++ = static_cast<unsigned char>(x + y + z);
            }
        if (std::fwrite(slab.data(), 1, slab.size(), file.get()) != slab.size())
            return false;
    }
    return std::fflush(file.get()) == 0;
}

// Reads the whole file once and throws the bytes away, so that every timed read comes from
// the page cache.
void warmFileCache(const std::string& path) {
    FileHandle file = openFile(path.c_str(), "rb");
    std::vector<char> chunk(1 << 20);
    while (file && std::fread(chunk.data(), 1, chunk.size(), file.get()) == chunk.size()) {
    }
}

// The least a load can cost: one fread of the samples into a fresh, not pre-faulted buffer
// and one glTexImage3D of them into a new texture, finished.
double boundLoad(const std::string& path, int n) {
    FileHandle file = openFile(path.c_str(), "rb");
    if (!file || std::fseek(file.get(), volumeLayout::headerSize, SEEK_SET) != 0)
        fatalError("bench: can't open %s", path.c_str());
    const std::size_t count = volumeSampleBytes(n);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_3D, texture);
    glFinish();

    const Clock::time_point start = Clock::now();
    std::unique_ptr<unsigned char[]> samples(new unsigned char[count]);
    if (std::fread(samples.get(), 1, count, file.get()) != count)
        fatalError("bench: short read of %s", path.c_str());
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGB, n, n, n, 0, GL_RGB, GL_UNSIGNED_BYTE, samples.get());
    glFinish();
    const double elapsed = millisecondsSince(start);

    samples.reset();
    glBindTexture(GL_TEXTURE_3D, 0);
    glDeleteTextures(1, &texture);
    glFinish();
    return elapsed;
}

// Frees what the previous load kept (the sample copy and the texture), so that every timed
// load starts from the same state as the viewer's first one and memory does not pile up.
void releaseLoadedVolume() {
    volumeTexels.reset();
    volumeSize = 0;
    if (volumeTexture != 0) {
        glDeleteTextures(1, &volumeTexture);
        volumeTexture = 0;
    }
    glFinish();
}

double timedLoad(const std::string& name) {
    releaseLoadedVolume();
    const Clock::time_point start = Clock::now();
    loadVolumeNamed(name);
    glFinish();
    return millisecondsSince(start);
}

struct LoadRow {
    int n = 0;
    std::string refusal; // why the viewer refuses this size here; no times then
    std::vector<double> loader, bound;
    long rssBeforeKiB = -1, peakKiB = -1, rssAfterKiB = -1; // around the row's last load
};

// The viewer's own refusal of an N^3 volume on this machine, before a byte is written.
std::string refusalOf(int n) {
    // The file is to be written whole, so its length is no question.
    return checkVolumeSamples(n, std::int64_t(volumeSampleBytes(n)), glVolumeRefusal,
                              availableMemory());
}

LoadRow measureLoads(int n, int repeats) {
    LoadRow row;
    row.n = n;
    row.refusal = refusalOf(n);
    if (!row.refusal.empty())
        return row;
    const std::string name = formatString("bench%d", n);
    const std::string path = "input/" + name + ".vol";
    // The header names a missing picture, so the loader's picture load fails fast, as the
    // bound has no picture to load.
    if (!writeVolume(path, n, "no-such-image"))
        fatalError("bench: can't write %s", path.c_str());
    warmFileCache(path);
    // One untimed load of each kind, then the timed ones alternating, so that drift in the
    // machine's load affects both alike.
    releaseLoadedVolume();
    boundLoad(path, n);
    timedLoad(name);
    for (int r = 0; r < repeats; ++r) {
        releaseLoadedVolume();
        row.bound.push_back(boundLoad(path, n));
        if (r == repeats - 1) {
            releaseLoadedVolume();
            row.rssBeforeKiB = resetPeakRss() ? procStatusKiB("VmRSS") : -1;
        }
        row.loader.push_back(timedLoad(name));
    }
    row.peakKiB = procStatusKiB("VmHWM");
    row.rssAfterKiB = procStatusKiB("VmRSS");
    reportGlErrors("the loads");
    releaseLoadedVolume();
    QFile::remove(QString::fromStdString(path));
    return row;
}

void printLoads(const std::vector<LoadRow>& rows) {
    std::printf("\n%5s %8s %21s %21s %15s\n", "N", "MB", "loader ms", "bound ms", "ratio");
    std::printf("%5s %8s %10s %10s %10s %10s %7s %7s\n", "", "", "best", "median", "best", "median",
                "best", "median");
    for (const LoadRow& row : rows) {
        const double mb = megabytes(double(volumeSampleBytes(row.n)));
        if (!row.refusal.empty()) {
            std::printf("%5d %8.1f   refused: %s\n", row.n, mb, row.refusal.c_str());
            continue;
        }
        std::printf("%5d %8.1f %10.1f %10.1f %10.1f %10.1f %7.2f %7.2f\n", row.n, mb,
                    best(row.loader), median(row.loader), best(row.bound), median(row.bound),
                    best(row.loader) / best(row.bound), median(row.loader) / median(row.bound));
    }
    std::printf("target: loader within 1.15x of the bound at N = 256 and 512\n\n");
    for (const LoadRow& row : rows)
        if (row.rssBeforeKiB >= 0)
            std::printf("one load of N = %d: RSS before %.1f MB, peak during %.1f MB (+%.1f), "
                        "RSS after %.1f MB (+%.1f)\n",
                        row.n, kibToMb(row.rssBeforeKiB), kibToMb(row.peakKiB),
                        kibToMb(row.peakKiB - row.rssBeforeKiB), kibToMb(row.rssAfterKiB),
                        kibToMb(row.rssAfterKiB - row.rssBeforeKiB));
}

void benchmarkVolumes(const Options& options) {
    std::printf("\n== Volume loading ==\n");
    viewPanel->makeCurrent();
    GLint max3d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    std::printf("GL_MAX_3D_TEXTURE_SIZE = %d\n", max3d);
    ScratchDir scratch;
    if (!scratch.isValid() || !QDir().mkpath(QStringLiteral("input")))
        fatalError("bench: can't create a temporary folder");
    std::vector<LoadRow> rows;
    for (int n : options.sizes)
        rows.push_back(measureLoads(n, options.repeats));
    printLoads(rows);
}

// ---------------------------------------------------------------------------------------
// Frame times

// Gives the panel exactly width x height device pixels (the window follows the panel's fixed
// size) and waits until the viewer has seen the new size. Returns whether it has.
bool setPanelSize(int width, int height) {
    QWidget* panel = viewPanel;
    const qreal ratio = panel->devicePixelRatioF();
    panel->setFixedSize(qRound(width / ratio), qRound(height / ratio));
    window->resize(window->minimumSizeHint().expandedTo(QSize(1, 1)));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && (viewWidth != width || viewHeight != height))
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    processEventsFor(200);
    viewPanel->makeCurrent();
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    return viewWidth == width && viewHeight == height && viewport[2] == width &&
           viewport[3] == height;
}

std::vector<double> timeFrames(const std::function<void()>& frame, int count) {
    const int warmUp = 5;
    std::vector<double> times;
    for (int i = 0; i < warmUp + count; ++i) {
        const Clock::time_point start = Clock::now();
        frame();
        glFinish();
        if (i >= warmUp)
            times.push_back(millisecondsSince(start));
    }
    return times;
}

struct FrameRow {
    std::string view;
    QSize size;
    bool sizeOk = false;
    std::vector<double> picture, panel; // frames with the picture-sized and full-panel overlay
};

FrameRow measureFrames(const char* view, QSize size, int frames) {
    FrameRow row;
    row.view = view;
    row.size = size;
    row.sizeOk = setPanelSize(size.width(), size.height());
    // Alternating blocks, so that drift in the machine's load affects both alike.
    for (int block = 0; block < 2; ++block) {
        const auto picture = timeFrames([] { paintFrame(OverlayExtent::Picture); }, frames / 2);
        const auto panel = timeFrames([] { paintFrame(OverlayExtent::Panel); }, frames / 2);
        row.picture.insert(row.picture.end(), picture.begin(), picture.end());
        row.panel.insert(row.panel.end(), panel.begin(), panel.end());
    }
    reportGlErrors("paintFrame");
    return row;
}

void printFrames(const std::vector<FrameRow>& rows) {
    std::printf("\n%-5s %10s %22s %22s %7s\n", "", "", "picture-sized overlay",
                "full-panel overlay", "");
    std::printf("%-5s %10s %11s %10s %11s %10s %7s\n", "view", "size", "mean ms", "p95 ms",
                "mean ms", "p95 ms", "ratio");
    for (const FrameRow& row : rows) {
        const std::string size = formatString("%dx%d", row.size.width(), row.size.height());
        std::printf("%-5s %10s %11.2f %10.2f %11.2f %10.2f %7.2f%s\n", row.view.c_str(),
                    size.c_str(), mean(row.picture), percentile(row.picture, 0.95), mean(row.panel),
                    percentile(row.panel, 0.95), mean(row.picture) / mean(row.panel),
                    row.sizeOk ? "" : "  (size not reached)");
    }
    std::printf("targets: at 1920x1080 the mean frame at most 0.7x the full-panel one; mesh "
                "p95 at most 12 ms\n");
}

bool copyFromSource(const QString& file) {
    QFile::remove(file);
    return QFile::copy(QStringLiteral(TESSARY_SOURCE_DIR "/") + file, file);
}

void benchmarkFrames(const Options& options) {
    std::printf("\n== Frame times ==\n");
    ScratchDir scratch;
    if (!scratch.isValid() || !QDir().mkpath(QStringLiteral("input")) ||
        !QDir().mkpath(QStringLiteral("shaders")))
        fatalError("bench: can't create a temporary folder");
    if (!copyFromSource(QStringLiteral("input/bunny.dat")) ||
        !copyFromSource(QStringLiteral("shaders/shading.vert")) ||
        !copyFromSource(QStringLiteral("shaders/shading.frag")))
        fatalError("bench: can't copy the mesh and shaders from %s", TESSARY_SOURCE_DIR);
    if (!writeVolume("input/bench.vol", 64, "bench"))
        fatalError("bench: can't write the frame volume");
    QImage reference(128, 128, QImage::Format_RGB888);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            reference.setPixel(x, y, qRgb(2 * x, 2 * y, 255 - x - y / 2));
    if (!reference.save(QStringLiteral("input/bench.png")))
        fatalError("bench: can't write the reference image");
    initScene();
    processEventsFor(200);
    std::printf("reference image %dx%d, %d channels; volume N = %d\n", referenceImage.width,
                referenceImage.height, referenceImage.channels, volumeSize);

    struct View {
        const char* name;
        QRadioButton* radio;
    };
    const View views[] = {{"mesh", form->viewBunnyRadio}, {"cube", form->viewCubeRadio}};
    const QSize sizes[] = {QSize(597, 643), QSize(1920, 1080), QSize(3840, 2160)};
    std::vector<FrameRow> rows;
    for (const View& view : views) {
        view.radio->setChecked(true);
        for (const QSize& size : sizes)
            rows.push_back(measureFrames(view.name, size, options.frames));
    }
    printFrames(rows);
}

void benchmarkConverter(Options* options) {
    if (options->packingSide > 0 && options->pyramidSide == 0)
        options->pyramidSide = 2 * options->packingSide;
    // First, so that the largest child it reports is one of its reader children, not a whole
    // process that a later row runs.
    if (options->pyramidSide > 0)
        benchmarkPyramidPacking(options->pyramidSide);
    if (options->packingSide > 0) {
        benchmarkPacking(options->packingSide, options->packingSide);
        // 512 x 512 x 400 at the default side
        benchmarkTypedPacking(options->packingSide, options->packingSide,
                              std::max(1, options->packingSide * 400 / 512));
    }
    if (options->modelTriangles > 0)
        benchmarkModels(options->modelTriangles);
    if (options->zarrSide > 0)
        benchmarkZarrPacking(options->zarrSide);
    if (options->synth)
        benchSynth();
}

void benchmarkViewer(const Options& options) {
    const long rssBeforeWindowKiB = procStatusKiB("VmRSS");
    buildMainWindow();
    QElapsedTimer timer;
    timer.start();
    while (!viewPanel->isValid() && timer.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!viewPanel->isValid())
        fatalError("bench: the GL panel has no context (is DISPLAY set?)");
    processEventsFor(200);
    viewPanel->makeCurrent();
    const long rssAfterContextKiB = procStatusKiB("VmRSS");

    std::printf("\n== Viewer ==\nGL_RENDERER: %s\nGL_VERSION: %s\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("RSS before the window %.1f MB, after the window and GL context %.1f MB\n",
                kibToMb(rssBeforeWindowKiB), kibToMb(rssAfterContextKiB));
    if (options.volumes)
        benchmarkVolumes(options);
    if (options.framesWanted)
        benchmarkFrames(options);
}

} // namespace

int main(int argc, char* argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 4 && std::string(argv[1]) == "--read-alone") // the packing rows' baseline
        return readAlone(argv[2], argv[3]);
    if (argc == 6 && std::string(argv[1]) == "--read-write-alone")
        return readWriteAlone(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10), argv[5]);
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        usage();
        return 2;
    }
    const bool viewerRows = options.volumes || options.framesWanted;
    if (!viewerRows) // the converter's rows need no display
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    setFatalNotice([](const std::string&) {}); // the message is printed; no box to wait on

    // The converter's rows first, in a process as lean as the converter's own: it holds no
    // window or GL context, and a reader child forked from a process that did would copy them.
    std::printf("tessary-bench\n");
    benchmarkConverter(&options);
    if (viewerRows)
        benchmarkViewer(options);

    std::printf("\n== Memory ==\n");
    std::printf("peak RSS of the run (getrusage ru_maxrss): %.1f MB\n", kibToMb(maxRssKiB()));
    std::printf(
        "\n== How these were measured ==\n"
        "- Wall-clock times (steady_clock); MB = 10^6 bytes. The viewer's real window and GL\n"
        "  panel, its context current; every timed step ends with glFinish.\n"
        "- Loading: each volume is written to a temporary folder and read once before timing,\n"
        "  so reads come from the page cache. Loader = loadVolumeNamed + glFinish, from no\n"
        "  loaded volume. Bound = one fread into a fresh buffer + one glTexImage3D into a new\n"
        "  texture + glFinish. After one untimed run of each, %d runs of each alternate. A size\n"
        "  the viewer refuses on this machine is reported with its message instead of times.\n"
        "  The memory line resets VmHWM before the last load of each size.\n"
        "- Frames: %d timed frames after 5 warm-up ones per overlay kind, alternating in two\n"
        "  blocks: paintFrame + glFinish at the stated panel size in device pixels, with the\n"
        "  overlay cut to the reference picture (the viewer's) and covering the whole panel.\n",
        options.repeats, options.frames);

    delete window; // also deletes the panel, where there is one
    window = nullptr;
    return 0;
}
