// tessary-bench: times the viewer's volume loader and its frame drawing, each against a lower
// bound measured in the same run, and prints the process's peak resident memory. It prints
// figures; nothing in it passes or fails.
//
// How to run (needs an X display; the viewer's real window and GL context are used):
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF
//   make -C build-bench -j2 tessary-bench
//   Xvfb :104 -screen 0 2560x1600x24 &  export DISPLAY=:104
//   build-bench/bench/tessary-bench [--sizes 64,128,256,512] [--frames 100] [--repeats 5]
//                                   [--skip-volumes] [--skip-frames]
// Scratch files (up to 3*512^3 bytes of samples per volume) go to a temporary folder under
// $TMPDIR (or /tmp) and are removed at the end.

#include <GL/glew.h>

#include "fatalerror.h"
#include "frame.h"
#include "glpanel.h"
#include "helpers.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "volume.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMainWindow>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

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
};

void usage() {
    std::printf("usage: tessary-bench [--sizes 64,128,256,512] [--frames N] [--repeats N]\n"
                "                     [--skip-volumes] [--skip-frames]\n");
}

bool parseOptions(int argc, char* argv[], Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--sizes" && hasValue) {
            options->sizes.clear();
            const QStringList parts = QString(argv[++i]).split(',', Qt::SkipEmptyParts);
            for (const QString& part : parts) {
                bool ok = false;
                const int n = part.trimmed().toInt(&ok);
                if (!ok || n <= 0 || n > 2048)
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
        } else {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Memory figures

// A "Vm...:  1234 kB" line of /proc/self/status in KiB; -1 when absent.
long procStatusKiB(const char* key) {
    FileHandle file = openFile("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, file.get()))
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':')
            return std::atol(line + keyLength + 1);
    return -1;
}

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

// Resets VmHWM to the current RSS (Linux 4.0 and later); ru_maxrss is not reset.
bool resetPeakRss() {
    FileHandle file = openFile("/proc/self/clear_refs", "w");
    return file && std::fputs("5", file.get()) >= 0;
}

double kibToMb(long kib) {
    return megabytes(double(kib) * 1024.0);
}

// ---------------------------------------------------------------------------------------
// Scratch files

void putInt32(unsigned char* at, std::int32_t value) {
    const std::uint32_t word = std::uint32_t(value);
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(word >> (8 * i));
}

// Writes a .vol file one z-slab at a time, so the benchmark itself never holds the samples.
bool writeVolume(const std::string& path, int n, const std::string& imageName) {
    FileHandle file = openFile(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<unsigned char> header(4096, 0);
    std::memcpy(header.data(), "VOLU", 4);
    putInt32(&header[4], 4);
    std::memcpy(&header[8], imageName.data(), std::min<std::size_t>(imageName.size(), 259));
    putInt32(&header[268], n);
    putInt32(&header[272], 3);
    putInt32(&header[276], 1);
    if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size())
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
    if (!file)
        return;
    std::vector<char> chunk(1 << 20);
    while (std::fread(chunk.data(), 1, chunk.size(), file.get()) == chunk.size()) {
    }
}

bool copyFile(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

// ---------------------------------------------------------------------------------------
// Statistics

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const std::size_t rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

double median(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
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

struct BoundPhases {
    double total = 0;
    double read = 0;   // allocation and fread
    double upload = 0; // glTexImage3D and glFinish
};

// The least a load can cost: one fread of the samples into a fresh, not pre-faulted buffer
// and one glTexImage3D of them into a new texture, finished.
BoundPhases boundLoad(const std::string& path, int n) {
    BoundPhases phases;
    FileHandle file = openFile(path.c_str(), "rb");
    if (!file || std::fseek(file.get(), 4096, SEEK_SET) != 0)
        fatalError("bench: can't open %s", path.c_str());
    const std::size_t count = 3 * std::size_t(n) * std::size_t(n) * std::size_t(n);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_3D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glFinish();

    const Clock::time_point start = Clock::now();
    unsigned char* samples = new unsigned char[count];
    if (std::fread(samples, 1, count, file.get()) != count)
        fatalError("bench: short read of %s", path.c_str());
    phases.read = millisecondsSince(start);
    const Clock::time_point uploadStart = Clock::now();
    glTexImage3D(GL_TEXTURE_3D, 0, GL_RGB, n, n, n, 0, GL_RGB, GL_UNSIGNED_BYTE, samples);
    glFinish();
    phases.upload = millisecondsSince(uploadStart);
    phases.total = millisecondsSince(start);

    delete[] samples;
    glBindTexture(GL_TEXTURE_3D, 0);
    glDeleteTextures(1, &texture);
    glFinish();
    return phases;
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
    std::vector<double> loader;
    std::vector<BoundPhases> bound;
};

void benchmarkVolumes(const Options& options, GLPanel* panel) {
    std::printf("\n== Volume loading ==\n");
    panel->makeCurrent();
    GLint max3d = 0;
    glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3d);
    std::printf("GL_MAX_3D_TEXTURE_SIZE = %d\n", max3d);

    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir(scratch.path()).mkpath(QStringLiteral("input")))
        fatalError("bench: can't create a temporary folder");
    const QByteArray previous = QDir::currentPath().toLocal8Bit();
    if (chdir(scratch.path().toLocal8Bit().constData()) != 0)
        fatalError("bench: can't enter the temporary folder");
    std::printf("scratch folder: %s\n", scratch.path().toLocal8Bit().constData());

    std::vector<LoadRow> rows;
    int largest = 0;
    for (int n : options.sizes)
        if (n <= max3d)
            largest = std::max(largest, n);
    long peakOneLoadKiB = -1, rssBeforeOneLoadKiB = -1, rssAfterOneLoadKiB = -1;

    for (int n : options.sizes) {
        if (n > max3d) {
            std::printf("N = %d skipped: above GL_MAX_3D_TEXTURE_SIZE %d\n", n, max3d);
            continue;
        }
        const std::string name = formatString("bench%d", n);
        const std::string path = "input/" + name + ".vol";
        // The header names an image that does not exist: the loader's reference-image load
        // then fails fast, as the lower bound has no image to load.
        if (!writeVolume(path, n, "no-such-image"))
            fatalError("bench: can't write %s", path.c_str());
        warmFileCache(path);

        LoadRow row;
        row.n = n;
        // One untimed load of each kind, then the timed ones alternating, so that drift in the
        // machine's load affects both alike.
        releaseLoadedVolume();
        boundLoad(path, n);
        timedLoad(name);
        for (int r = 0; r < options.repeats; ++r) {
            releaseLoadedVolume();
            row.bound.push_back(boundLoad(path, n));
            const bool lastOfLargest = n == largest && r == options.repeats - 1;
            if (lastOfLargest) {
                releaseLoadedVolume();
                rssBeforeOneLoadKiB = procStatusKiB("VmRSS");
                if (!resetPeakRss())
                    rssBeforeOneLoadKiB = -1;
            }
            row.loader.push_back(timedLoad(name));
            if (lastOfLargest && rssBeforeOneLoadKiB >= 0) {
                peakOneLoadKiB = procStatusKiB("VmHWM");
                rssAfterOneLoadKiB = procStatusKiB("VmRSS");
            }
        }
        reportGlErrors("the loads");
        rows.push_back(row);
        QFile::remove(QString::fromStdString(path));
    }
    releaseLoadedVolume();
    if (chdir(previous.constData()) != 0)
        std::printf("warning: can't return to %s\n", previous.constData());

    std::printf("\n%5s %8s %21s %21s %15s\n", "N", "MB", "loader ms", "bound ms", "ratio");
    std::printf("%5s %8s %10s %10s %10s %10s %7s %7s\n", "", "", "best", "median", "best", "median",
                "best", "median");
    for (const LoadRow& row : rows) {
        std::vector<double> bound;
        for (const BoundPhases& phases : row.bound)
            bound.push_back(phases.total);
        const double bytes = 3.0 * double(row.n) * row.n * row.n;
        std::printf("%5d %8.1f %10.1f %10.1f %10.1f %10.1f %7.2f %7.2f\n", row.n, megabytes(bytes),
                    best(row.loader), median(row.loader), best(bound), median(bound),
                    best(row.loader) / best(bound), median(row.loader) / median(bound));
    }
    std::printf("target: loader within 1.15x of the bound at N = 256 and 512\n");
    std::printf("\nbound phases (median ms): N, fread into a fresh buffer, glTexImage3D + "
                "glFinish\n");
    for (const LoadRow& row : rows) {
        std::vector<double> read, upload;
        for (const BoundPhases& phases : row.bound) {
            read.push_back(phases.read);
            upload.push_back(phases.upload);
        }
        std::printf("%5d %10.1f %10.1f\n", row.n, median(read), median(upload));
    }
    if (largest > 0) {
        const double bytes = 3.0 * double(largest) * largest * largest;
        std::printf("\nsamples of the largest volume (N = %d): %.1f MB\n", largest,
                    megabytes(bytes));
        if (peakOneLoadKiB >= 0)
            std::printf("one load of N = %d: RSS before %.1f MB, peak during %.1f MB (+%.1f), "
                        "RSS after %.1f MB (+%.1f)\n",
                        largest, kibToMb(rssBeforeOneLoadKiB), kibToMb(peakOneLoadKiB),
                        kibToMb(peakOneLoadKiB - rssBeforeOneLoadKiB), kibToMb(rssAfterOneLoadKiB),
                        kibToMb(rssAfterOneLoadKiB - rssBeforeOneLoadKiB));
        else
            std::printf("one load of N = %d: peak not measured (no /proc/self/clear_refs)\n",
                        largest);
    }
}

// ---------------------------------------------------------------------------------------
// Frame times

// The size of the colour attachment of the framebuffer bound for drawing; 0x0 when unknown.
QSize boundFramebufferSize() {
    GLint type = 0, name = 0;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
    GLint width = 0, height = 0;
    if (type == GL_TEXTURE) {
        GLint previous = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
        glBindTexture(GL_TEXTURE_2D, name);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        glBindTexture(GL_TEXTURE_2D, previous);
    } else if (type == GL_RENDERBUFFER) {
        GLint previous = 0;
        glGetIntegerv(GL_RENDERBUFFER_BINDING, &previous);
        glBindRenderbuffer(GL_RENDERBUFFER, name);
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT, &height);
        glBindRenderbuffer(GL_RENDERBUFFER, previous);
    }
    return QSize(width, height);
}

// Gives the panel exactly width x height pixels (the window follows the panel's fixed size)
// and waits until the viewer has seen the new size. Returns whether the panel, the viewer's
// recorded size and the panel's framebuffer all have that size.
bool setPanelSize(GLPanel* panel, int width, int height) {
    QWidget* widget = panel; // GLPanel::resize is a signal; QWidget's is wanted
    widget->setFixedSize(width, height);
    window->resize(window->minimumSizeHint().expandedTo(QSize(1, 1)));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && (viewWidth != width || viewHeight != height ||
                                       widget->width() != width || widget->height() != height))
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    processEventsFor(200);
    panel->makeCurrent();
    const QSize framebuffer = boundFramebufferSize();
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const bool ok = viewWidth == width && viewHeight == height && framebuffer.width() == width &&
                    framebuffer.height() == height && viewport[2] == width && viewport[3] == height;
    if (!ok)
        std::printf("  warning: panel %dx%d, view %dx%d, framebuffer %dx%d, viewport %dx%d; "
                    "wanted %dx%d\n",
                    widget->width(), widget->height(), viewWidth, viewHeight, framebuffer.width(),
                    framebuffer.height(), viewport[2], viewport[3], width, height);
    return ok;
}

std::vector<double> timeFrames(const std::function<void()>& frame, int warmUp, int count) {
    for (int i = 0; i < warmUp; ++i) {
        frame();
        glFinish();
    }
    std::vector<double> times;
    times.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        frame();
        glFinish();
        times.push_back(millisecondsSince(start));
    }
    return times;
}

struct FrameRow {
    std::string view;
    int width = 0, height = 0;
    bool sizeOk = false;
    std::vector<double> frame, baseline, clearOnly, fillOnly, imageOverlay;
};

void benchmarkFrames(const Options& options, GLPanel* panel) {
    std::printf("\n== Frame times ==\n");
    QTemporaryDir scratch;
    QDir dir(scratch.path());
    if (!scratch.isValid() || !dir.mkpath(QStringLiteral("input")) ||
        !dir.mkpath(QStringLiteral("shaders")))
        fatalError("bench: can't create a temporary folder");
    const QString source = QStringLiteral(TESSARY_SOURCE_DIR);
    const QString root = scratch.path();
    if (!copyFile(source + "/input/bunny.dat", root + "/input/bunny.dat") ||
        !copyFile(source + "/shaders/shading.vert", root + "/shaders/shading.vert") ||
        !copyFile(source + "/shaders/shading.frag", root + "/shaders/shading.frag"))
        fatalError("bench: can't copy the mesh and shaders from %s", TESSARY_SOURCE_DIR);
    if (!writeVolume((root + "/input/bench.vol").toStdString(), 64, "bench"))
        fatalError("bench: can't write the frame volume");
    QImage reference(128, 128, QImage::Format_RGB888);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            reference.setPixel(x, y, qRgb(2 * x, 2 * y, 255 - x - y / 2));
    if (!reference.save(root + "/input/bench.png"))
        fatalError("bench: can't write the reference image");

    const QByteArray previous = QDir::currentPath().toLocal8Bit();
    if (chdir(root.toLocal8Bit().constData()) != 0)
        fatalError("bench: can't enter the temporary folder");
    initScene();
    processEventsFor(200);
    std::printf("reference image %dx%d, %d channels; volume N = %d\n", referenceImage.width,
                referenceImage.height, referenceImage.channels, volumeSize);

    struct View {
        const char* name;
        std::function<void()> choose;
    };
    const View views[] = {
        {"mesh", [] { controller->viewBunnyRadio->setChecked(true); }},
        {"cube",
         [] {
             controller->viewCubeRadio->setChecked(true);
             controller->viewXyRadio->setChecked(true);
         }},
    };
    const QSize sizes[] = {QSize(597, 643), QSize(1920, 1080)};
    const int warmUp = 5;

    std::vector<FrameRow> rows;
    for (const View& view : views) {
        view.choose();
        for (const QSize& size : sizes) {
            FrameRow row;
            row.view = view.name;
            row.width = size.width();
            row.height = size.height();
            row.sizeOk = setPanelSize(panel, row.width, row.height);
            panel->makeCurrent();

            row.frame = timeFrames([] { paintFrame(); }, warmUp, options.frames);
            reportGlErrors("paintFrame");

            // Clear, then the full-panel overlay exactly as paintFrame draws it, with the
            // blending and depth state the viewer leaves set.
            std::vector<unsigned char> overlay(std::size_t(viewWidth) * viewHeight * 4);
            row.baseline = timeFrames(
                [&] {
                    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                    fillOverlay(overlay.data(), viewWidth, viewHeight, referenceImage);
                    glPixelZoom(1, 1);
                    glWindowPos2i(0, 0);
                    glDrawPixels(viewWidth, viewHeight, GL_RGBA, GL_UNSIGNED_BYTE, overlay.data());
                },
                warmUp, options.frames);
            reportGlErrors("the baseline frame");

            // Parts of the baseline: the clear alone, and an overlay cut to the image's
            // rectangle (the rest of the full-panel overlay is transparent).
            row.clearOnly = timeFrames([] { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); },
                                       warmUp, options.frames);
            row.fillOnly = timeFrames(
                [&] { fillOverlay(overlay.data(), viewWidth, viewHeight, referenceImage); }, warmUp,
                options.frames);
            const int columns = std::min(viewWidth, referenceImage.width);
            const int lines = std::min(viewHeight, referenceImage.height);
            std::vector<unsigned char> small(std::size_t(std::max(columns, 0)) *
                                             std::max(lines, 0) * 4);
            row.imageOverlay = timeFrames(
                [&] {
                    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                    if (columns <= 0 || lines <= 0)
                        return;
                    fillOverlay(small.data(), columns, lines, referenceImage);
                    glWindowPos2i(0, 0);
                    glDrawPixels(columns, lines, GL_RGBA, GL_UNSIGNED_BYTE, small.data());
                },
                warmUp, options.frames);
            reportGlErrors("the frame parts");
            rows.push_back(row);
        }
    }
    if (chdir(previous.constData()) != 0)
        std::printf("warning: can't return to %s\n", previous.constData());

    std::printf("\n%-5s %10s %9s %9s %12s %7s\n", "view", "size", "mean ms", "p95 ms",
                "base mean ms", "ratio");
    for (const FrameRow& row : rows) {
        const std::string size = formatString("%dx%d", row.width, row.height);
        std::printf("%-5s %10s %9.2f %9.2f %12.2f %7.2f%s\n", row.view.c_str(), size.c_str(),
                    mean(row.frame), percentile(row.frame, 0.95), mean(row.baseline),
                    mean(row.frame) / mean(row.baseline),
                    row.sizeOk ? "" : "  (size not verified)");
    }
    std::printf("\nbaseline parts (mean ms): view, size, clear only, full-panel fillOverlay "
                "only, clear + image-sized overlay\n");
    for (const FrameRow& row : rows) {
        const std::string size = formatString("%dx%d", row.width, row.height);
        std::printf("%-5s %10s %9.2f %9.2f %9.2f\n", row.view.c_str(), size.c_str(),
                    mean(row.clearOnly), mean(row.fillOnly), mean(row.imageOverlay));
    }
}

// Fatal errors print their message (fatalError does) and end the process without a box.
void noNotice(const std::string&) {}

} // namespace

int main(int argc, char* argv[]) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        usage();
        return 2;
    }
    setFatalNotice(noNotice);

    const long rssBeforeWindowKiB = procStatusKiB("VmRSS");
    // The viewer's own window, controller and GL panel, built as main builds them.
    buildMainWindow();
    GLPanel* panel = controller->glPanel;
    QElapsedTimer timer;
    timer.start();
    while (!panel->isValid() && timer.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!panel->isValid())
        fatalError("bench: the GL panel has no context (is DISPLAY set?)");
    processEventsFor(200);
    panel->makeCurrent();
    const long rssAfterContextKiB = procStatusKiB("VmRSS");

    std::printf("tessary-bench\nGL_RENDERER: %s\nGL_VERSION: %s\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("RSS before the window %.1f MB, after the window and GL context %.1f MB\n",
                kibToMb(rssBeforeWindowKiB), kibToMb(rssAfterContextKiB));

    if (options.volumes)
        benchmarkVolumes(options, panel);
    if (options.framesWanted)
        benchmarkFrames(options, panel);

    std::printf("\n== Memory ==\n");
    std::printf("RSS after the GL context, before any volume: %.1f MB\n",
                kibToMb(rssAfterContextKiB));
    std::printf("peak RSS (getrusage ru_maxrss): %.1f MB\n", kibToMb(maxRssKiB()));
    std::printf("peak RSS (/proc/self/status VmHWM, since the last reset): %.1f MB\n",
                kibToMb(procStatusKiB("VmHWM")));
    std::printf("target: peak no more than the largest volume's samples plus what the GL "
                "driver holds\n");

    std::printf(
        "\n== How these were measured ==\n"
        "- Times are wall-clock (steady_clock); MB = 10^6 bytes. One process, the viewer's real\n"
        "  window, controller and GL panel, its context current; every timed step ends with\n"
        "  glFinish.\n"
        "- Loading: each volume file is written to a temporary folder and read once before\n"
        "  timing, so every timed read comes from the page cache. Loader = loadVolumeNamed end\n"
        "  to end + glFinish, starting each time from no loaded volume (the previous copy and\n"
        "  texture are freed first). Bound = new[] (not pre-faulted) + one fread of the same\n"
        "  samples + one glTexImage3D(GL_RGB, GL_UNSIGNED_BYTE, alignment 1) into a new\n"
        "  texture + glFinish. After one untimed run of each, %d runs of each alternate;\n"
        "  best and median are shown. The header names a missing image, so the loader's\n"
        "  reference-image load fails fast.\n"
        "- The one-load memory line resets VmHWM just before the last load of the largest N;\n"
        "  the difference is what that load adds (samples kept + driver texture + transients).\n"
        "- Frames: %d timed frames after %d warm-up ones, each paintFrame + glFinish into the\n"
        "  panel's own framebuffer at the stated size (checked against viewWidth/viewHeight,\n"
        "  the viewport and the framebuffer's colour attachment). Baseline = glClear +\n"
        "  fillOverlay + glWindowPos2i(0,0) + glDrawPixels of the whole RGBA overlay with the\n"
        "  viewer's blending and depth state + glFinish. Other processes share the CPUs, so\n"
        "  repeat runs differ by some percent.\n",
        options.repeats, options.frames, 5);

    delete window; // also deletes the panel
    window = nullptr;
    return 0;
}
