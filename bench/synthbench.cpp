#include "synthbench.h"

#include "memory.h"
#include "solidsynth.h"
#include "synthquality.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {
const char patternFolder[] = "/usr/share/gimp/2.0/patterns";
const char* const patterns[] = {"Stone/granite1.pat", "Wood/wood1.pat", "Fabric/burlap.pat",
                                "Stone/pink_marble.pat", "Food/java.pat"};
constexpr int side = 128;
constexpr double timeTarget = 10.0;
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

void benchPattern(const QString& path) {
    Picture exemplar;
    if (!readPattern(path, &exemplar) || !exemplarFits(exemplar)) {
        std::printf("  %-28s unreadable\n", qPrintable(QFileInfo(path).fileName()));
        return;
    }
    SynthSettings settings;
    settings.exemplars[0] = settings.exemplars[1] = settings.exemplars[2] = &exemplar;
    settings.n = side;
    resetPeakRss();
    const long before = procStatusKiB("VmRSS");
    QElapsedTimer timer;
    timer.start();
    const SynthResult result = synthesizeSolid(settings);
    const double seconds = timer.elapsed() / 1000.0;
    const long peak = procStatusKiB("VmHWM") - before;
    std::printf("  %-28s %4d x %-4d %6.1f s %7.1f MB  matching energy %.2f\n",
                qPrintable(QFileInfo(path).fileName()), exemplar.width, exemplar.height, seconds,
                kibToMb(peak), result.energy);
    printQuality(exemplar, result);
}
} // namespace

bool benchSynth() {
    std::printf("\nSynthesis of %d^3 from GIMP's patterns (target: %.0f s; per axis, 0 being one "
                "half of the pattern against the other: energy <= %.2f, detail <= %.2f, colour "
                "<= %.2f; the step across each wrap <= %.1f times that between planes)\n",
                side, timeTarget, energyTarget, detailTarget, colourTarget, wrapTarget);
    // TESSARY_SYNTH_PATTERNS (names, comma-separated) narrows the run while tuning.
    const QStringList only =
        qEnvironmentVariable("TESSARY_SYNTH_PATTERNS").split(',', Qt::SkipEmptyParts);
    bool any = false;
    for (const char* pattern : patterns) {
        const QString path = QString(patternFolder) + "/" + pattern;
        if (!QFileInfo::exists(path) ||
            (!only.isEmpty() && !only.contains(QFileInfo(path).completeBaseName())))
            continue;
        benchPattern(path);
        any = true;
    }
    if (!any)
        std::printf("  no patterns in %s (Debian's gimp-data)\n", patternFolder);
    return any;
}
