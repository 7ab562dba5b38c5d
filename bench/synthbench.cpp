#include "synthbench.h"

#include "memory.h"
#include "solidsynth.h"
#include "synthquality.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {
const char patternFolder[] = "/usr/share/gimp/2.0/patterns";

// How a pattern reaches the synthesis: as GIMP ships it, or through a JPEG, as a user's
// photograph would, blocks and ringing included.
enum class Passage { asIs, jpeg };

// Stochastic patterns (granite, marble, walnut, stones) and structured ones (bricks,
// squares), grey (one byte a pixel: granite1, marble1) and colour.
struct PatternCase {
    const char* path;
    Passage passage;
};
const PatternCase patterns[] = {
    {"Stone/granite1.pat", Passage::asIs},   {"Stone/marble1.pat", Passage::asIs},
    {"Wood/wood1.pat", Passage::asIs},       {"Wood/walnut.pat", Passage::asIs},
    {"Fabric/burlap.pat", Passage::asIs},    {"Stone/pink_marble.pat", Passage::asIs},
    {"Food/java.pat", Passage::asIs},        {"Stone/stone33.pat", Passage::asIs},
    {"Stone/stone33.pat", Passage::jpeg},    {"Stone/brick.pat", Passage::asIs},
    {"Legacy/sm_squares.pat", Passage::asIs}};
constexpr int side = 128;
constexpr double timeTarget = 10.0;
// The large row: one pattern at 256^3, timed and weighed alone.
const char largePattern[] = "Stone/pink_marble.pat";
constexpr int largeSide = 256;
constexpr double largeTimeTarget = 90.0, largeMbTarget = 2048.0;
constexpr double mbTarget = 512.0;
constexpr int jpegQuality = 85;
// The quality targets: each measure at most this, along every axis (synthquality.h).
constexpr double energyTarget = 0.2, detailTarget = 0.35, colourTarget = 0.1, wrapTarget = 1.2;

const char* verdict(bool met) {
    return met ? "" : " (over)";
}

// The quality figures of the slices normal to each axis, and the steps across each wrap.
void printQuality(const Picture& exemplar, const SynthResult& result) {
    Solid solid;
    solid.n = side;
    solid.rgb.assign(result.rgb.begin(), result.rgb.end());
    for (int axis = 0; axis < 3; ++axis) {
        const SynthQuality q = sliceQuality(exemplar, solid, axis);
        const double wrap = wrapStepRatio(solid, axis);
        std::printf("    across %c: energy %5.2f%s  detail %5.2f%s  colour %5.2f%s  wrap step "
                    "%4.2f%s\n",
                    "xyz"[axis], q.energy, verdict(q.energy <= energyTarget), q.detail,
                    verdict(q.detail <= detailTarget), q.colour, verdict(q.colour <= colourTarget),
                    wrap, verdict(wrap <= wrapTarget));
    }
}

std::uint32_t bigEndian(const QByteArray& bytes, int at) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v = v << 8 | std::uint8_t(bytes[at + k]);
    return v;
}

// GIMP's pattern: a big-endian header (its size, version, width, height, bytes a pixel,
// "GPAT"), a name, then the pixels.
bool readPattern(const QString& path, Picture* picture) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 24 || bytes.mid(20, 4) != "GPAT")
        return false;
    const std::uint32_t header = bigEndian(bytes, 0), width = bigEndian(bytes, 8),
                        height = bigEndian(bytes, 12), channels = bigEndian(bytes, 16);
    if (channels < 1 || channels > 4 || width > 4096 || height > 4096 ||
        qint64(header) + qint64(width) * height * channels > bytes.size())
        return false;
    picture->width = int(width);
    picture->height = int(height);
    picture->rgb.clear();
    for (std::size_t p = 0; p < std::size_t(width) * height; ++p) {
        const char* pixel = bytes.constData() + header + p * channels;
        for (int c = 0; c < 3; ++c)
            picture->rgb.push_back(float(std::uint8_t(pixel[channels < 3 ? 0 : c])));
    }
    return true;
}

// The picture encoded to JPEG and decoded back.
Picture throughJpeg(const Picture& picture) {
    QImage image(picture.width, picture.height, QImage::Format_RGB888);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const float* p = &picture.rgb[3 * (std::size_t(y) * picture.width + x)];
            image.setPixel(x, y, qRgb(int(p[0]), int(p[1]), int(p[2])));
        }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", jpegQuality);
    const QImage decoded = QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB888);
    Picture out{decoded.width(), decoded.height(), {}};
    for (int y = 0; y < decoded.height(); ++y)
        for (int x = 0; x < decoded.width(); ++x) {
            const QRgb c = decoded.pixel(x, y);
            out.rgb.insert(out.rgb.end(), {float(qRed(c)), float(qGreen(c)), float(qBlue(c))});
        }
    return out;
}

struct Run {
    SynthResult result;
    double seconds = 0, mb = 0;
};

Run timedSynthesis(const Picture& exemplar, int n) {
    SynthSettings settings;
    settings.exemplars[0] = settings.exemplars[1] = settings.exemplars[2] = &exemplar;
    settings.n = n;
    resetPeakRss();
    const long before = procStatusKiB("VmRSS");
    QElapsedTimer timer;
    timer.start();
    Run run;
    run.result = synthesizeSolid(settings);
    run.seconds = timer.elapsed() / 1000.0;
    run.mb = kibToMb(procStatusKiB("VmHWM") - before);
    return run;
}

QString caseName(const PatternCase& pattern) {
    const QString name = QFileInfo(pattern.path).fileName();
    return pattern.passage == Passage::jpeg ? name + " as JPEG" : name;
}

bool loadCase(const PatternCase& pattern, Picture* exemplar) {
    if (!readPattern(QString(patternFolder) + "/" + pattern.path, exemplar))
        return false;
    if (pattern.passage == Passage::jpeg)
        *exemplar = throughJpeg(*exemplar);
    return exemplarFits(*exemplar);
}

void benchPattern(const PatternCase& pattern) {
    Picture exemplar;
    if (!loadCase(pattern, &exemplar)) {
        std::printf("  %-28s unreadable\n", qPrintable(caseName(pattern)));
        return;
    }
    const Run run = timedSynthesis(exemplar, side);
    std::printf("  %-28s %4d x %-4d %6.1f s%s %7.1f MB%s  matching energy %.2f\n",
                qPrintable(caseName(pattern)), exemplar.width, exemplar.height, run.seconds,
                verdict(run.seconds <= timeTarget), run.mb, verdict(run.mb <= mbTarget),
                run.result.energy);
    printQuality(exemplar, run.result);
}

// The time and peak of the large solid, as ratios of their targets.
void benchLarge() {
    Picture exemplar;
    if (!loadCase({largePattern, Passage::asIs}, &exemplar))
        return;
    const Run run = timedSynthesis(exemplar, largeSide);
    std::printf("  %-28s %d^3 %6.1f s (%.2f of the target)  %7.1f MB (%.2f of the target)\n",
                qPrintable(QFileInfo(largePattern).fileName()), largeSide, run.seconds,
                run.seconds / largeTimeTarget, run.mb, run.mb / largeMbTarget);
}
} // namespace

bool benchSynth() {
    std::printf(
        "\nSynthesis of %d^3 from GIMP's patterns (target: %.0f s, %.0f MB; per axis, 0 being one "
        "half of the pattern against the other: energy <= %.2f, detail <= %.2f, colour "
        "<= %.2f; the step across each wrap <= %.1f times that between planes)\n",
        side, timeTarget, mbTarget, energyTarget, detailTarget, colourTarget, wrapTarget);
    // TESSARY_SYNTH_PATTERNS (names, comma-separated) narrows the run while tuning.
    const QStringList only =
        qEnvironmentVariable("TESSARY_SYNTH_PATTERNS").split(',', Qt::SkipEmptyParts);
    bool any = false;
    for (const PatternCase& pattern : patterns) {
        const QString path = QString(patternFolder) + "/" + pattern.path;
        if (!QFileInfo::exists(path) ||
            (!only.isEmpty() && !only.contains(QFileInfo(path).completeBaseName())))
            continue;
        benchPattern(pattern);
        any = true;
    }
    if (!any) {
        std::printf("  no patterns in %s (Debian's gimp-data)\n", patternFolder);
        return false;
    }
    // TESSARY_SYNTH_LARGE=0 leaves out the large row while tuning.
    if (qEnvironmentVariable("TESSARY_SYNTH_LARGE") != "0") {
        std::printf("\nSynthesis of %d^3 (target: %.0f s, %.0f MB at the peak)\n", largeSide,
                    largeTimeTarget, largeMbTarget);
        benchLarge();
    }
    return true;
}
