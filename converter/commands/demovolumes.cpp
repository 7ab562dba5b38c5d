#include "demovolumes.h"

#include "terrazzo.h"
#include "hash.h"
#include "output.h"
#include "pictures/pictures.h"
#include "slicestream.h"
#include "tasks.h"
#include "vol.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scale(const Rgb& c, double s) {
    return {c.r * s, c.g * s, c.b * s};
}

double clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}

double smoothstep(double e0, double e1, double v) {
    const double t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}

// v clamped to 0 ... 1, scaled to 255 and rounded to the nearest byte.
uint8_t clampedRoundedByte(double v) {
    return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0));
}

// ---------------------------------------------------------------------------------------
// Deterministic noise

uint32_t hash3(int x, int y, int z, uint32_t seed) {
    uint32_t h = hash32(seed ^ 0x9e3779b9U);
    h = hash32(h ^ static_cast<uint32_t>(x));
    h = hash32(h ^ static_cast<uint32_t>(y));
    h = hash32(h ^ static_cast<uint32_t>(z));
    return h;
}

// Uniform in [0, 1) from the top 24 bits of a hash.
double unit(uint32_t h) {
    return (h >> 8) * (1.0 / 16777216.0);
}

int wrap(int i, int period) {
    const int m = i % period;
    return m < 0 ? m + period : m;
}

double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

// Gradient noise on an integer lattice that repeats every `period` cells along each axis.
// Result lies roughly in [-1, 1].
double perlin(double x, double y, double z, int period, uint32_t seed) {
    static const int grad[12][3] = {{1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0},
                                    {1, 0, 1}, {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
                                    {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1}};
    const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    const double tx = x - fx, ty = y - fy, tz = z - fz;
    const int ix[2] = {wrap(int(fx), period), wrap(int(fx) + 1, period)};
    const int iy[2] = {wrap(int(fy), period), wrap(int(fy) + 1, period)};
    const int iz[2] = {wrap(int(fz), period), wrap(int(fz) + 1, period)};

    // Hash the lattice corners axis by axis so shared prefixes are computed once.
    const uint32_t hs = hash32(seed ^ 0x9e3779b9U);
    double corner[8];
    for (int dz = 0; dz < 2; ++dz) {
        const uint32_t hz = hash32(hs ^ uint32_t(iz[dz]));
        for (int dy = 0; dy < 2; ++dy) {
            const uint32_t hy = hash32(hz ^ uint32_t(iy[dy]));
            for (int dx = 0; dx < 2; ++dx) {
                const int* g = grad[hash32(hy ^ uint32_t(ix[dx])) % 12];
                corner[dx + 2 * dy + 4 * dz] =
                    g[0] * (tx - dx) + g[1] * (ty - dy) + g[2] * (tz - dz);
            }
        }
    }
    const double u = fade(tx), v = fade(ty), w = fade(tz);
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double x00 = lerp(corner[0], corner[1], u), x10 = lerp(corner[2], corner[3], u);
    const double x01 = lerp(corner[4], corner[5], u), x11 = lerp(corner[6], corner[7], u);
    return lerp(lerp(x00, x10, v), lerp(x01, x11, v), w);
}

// Sum of octaves of noise; u, v, w are in volume units [0, 1) and `period` is the number
// of lattice cells across the volume for the first octave, so the result tiles.
// With `absolute` the octaves are folded (|noise|), giving classic turbulence.
double fractal(double u, double v, double w, int period, int octaves, uint32_t seed,
               bool absolute) {
    double sum = 0.0, amp = 1.0, norm = 0.0;
    for (int o = 0; o < octaves; ++o) {
        const double n = perlin(u * period, v * period, w * period, period, seed + o);
        sum += amp * (absolute ? std::fabs(n) : n);
        norm += amp;
        amp *= 0.5;
        period *= 2;
    }
    return sum / norm;
}

// ---------------------------------------------------------------------------------------
// Volumes

struct Volume {
    int n = 0;
    std::vector<uint8_t> rgb; // 3 * n^3 bytes, x fastest

    explicit Volume(int edge) : n(edge), rgb(3 * static_cast<size_t>(edge) * edge * edge) {}

    size_t offset(int x, int y, int z) const {
        return 3 * (x + static_cast<size_t>(n) * (y + static_cast<size_t>(n) * z));
    }
    uint8_t* at(int x, int y, int z) { return &rgb[offset(x, y, z)]; }
    const uint8_t* at(int x, int y, int z) const { return &rgb[offset(x, y, z)]; }
};

// Runs body(z) for every slice z in [0, n), spread over the available cores. Slices are
// independent, so the result does not depend on the thread count.
template <typename F> void forEachSlice(int n, F body) {
    const int threads = std::max(1, std::min<int>(n, std::thread::hardware_concurrency()));
    runOnThreads(unsigned(threads), [=](unsigned t) {
        for (int z = int(t); z < n; z += threads)
            body(z);
    });
}

// Fills every sample from a colour function of the sample position in [0, 1).
template <typename F> void fill(Volume& vol, F colour) {
    const int n = vol.n;
    forEachSlice(n, [&](int z) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const Rgb c = colour(double(x) / n, double(y) / n, double(z) / n);
                uint8_t* p = vol.at(x, y, z);
                p[0] = clampedRoundedByte(c.r);
                p[1] = clampedRoundedByte(c.g);
                p[2] = clampedRoundedByte(c.b);
            }
    });
}

// Colour encodes position exactly: channel = round(coord * 255 / (N - 1)).
Volume makeAxes(int n) {
    Volume vol(n);
    auto ramp = [n](int i) {
        return static_cast<uint8_t>((2 * i * 255 + (n - 1)) / (2 * (n - 1)));
    };
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                uint8_t* p = vol.at(x, y, z);
                p[0] = ramp(x);
                p[1] = ramp(y);
                p[2] = ramp(z);
            }
    return vol;
}

// Turbulent marble: sine bands along a tilted direction, displaced by turbulence.
// The band frequencies are integers and the noise is periodic, so the volume tiles.
Volume makeMarble(int n) {
    Volume vol(n);
    const Rgb white{0.94, 0.93, 0.91}, grey{0.70, 0.70, 0.73}, vein{0.25, 0.25, 0.30};
    fill(vol, [&](double u, double v, double w) {
        const double turb = fractal(u, v, w, 3, 4, 11, true);
        const double s = std::sin(2.0 * pi * (u + v) + 6.0 * turb);
        const double cloud = fractal(u, v, w, 6, 3, 23, false);
        // Broad grey clouding between the bands, a dark vein where the sine crosses zero.
        Rgb c = mix(white, grey, clamp01(0.35 * (1.0 - std::fabs(s)) + 1.2 * cloud + 0.15));
        const double veinAmount = std::exp(-(s * s) / (2.0 * 0.12 * 0.12));
        return mix(c, vein, 0.8 * veinAmount);
    });
    return vol;
}

// Wood: growth rings around the z axis, wobbled by low-frequency noise, with fine grain
// streaks running along z.
Volume makeWood(int n) {
    Volume vol(n);
    const Rgb early{0.80, 0.60, 0.38}, late{0.45, 0.27, 0.13};
    fill(vol, [&](double u, double v, double w) {
        const double dx = u - 0.5, dy = v - 0.5;
        const double r = std::sqrt(dx * dx + dy * dy);
        const double wobble = fractal(u, v, w, 3, 2, 37, false);
        const double rings = r * 14.0 + 1.2 * wobble;
        const double t = rings - std::floor(rings);
        // Light early wood fading into a narrow dark late-wood band.
        const double band = smoothstep(0.55, 0.9, t) * (1.0 - smoothstep(0.92, 1.0, t));
        const double grain = perlin(u * 32.0, v * 32.0, w * 4.0, 32, 41);
        return scale(mix(early, late, band), 1.0 + 0.08 * grain);
    });
    return vol;
}

// Granite: grey ground mass with pink feldspar and black mica specks, each a
// thresholded high-frequency noise field.
Volume makeGranite(int n) {
    Volume vol(n);
    const Rgb lightGrey{0.78, 0.77, 0.76}, darkGrey{0.52, 0.52, 0.53};
    const Rgb pink{0.83, 0.58, 0.55}, black{0.08, 0.08, 0.09};
    fill(vol, [&](double u, double v, double w) {
        const double base = fractal(u, v, w, 12, 2, 51, false);
        const double feldspar = fractal(u, v, w, 9, 2, 53, false);
        const double mica = fractal(u, v, w, 15, 2, 57, false);
        const double jitter = unit(hash3(int(u * 4096), int(v * 4096), int(w * 4096), 59));
        Rgb c = mix(darkGrey, lightGrey, clamp01(0.5 + 1.6 * base));
        if (feldspar > 0.22)
            c = mix(c, pink, 0.85);
        if (mica > 0.28)
            c = black;
        return scale(c, 0.92 + 0.16 * jitter);
    });
    return vol;
}

Rgb hsv(double h, double s, double v) {
    const double k = h * 6.0;
    const int i = static_cast<int>(k) % 6;
    const double f = k - std::floor(k);
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
    case 0:
        return {v, t, p};
    case 1:
        return {q, v, p};
    case 2:
        return {p, v, t};
    case 3:
        return {p, q, v};
    case 4:
        return {t, p, v};
    default:
        return {v, p, q};
    }
}

// Worley cells: one jittered feature point per cell of a G^3 grid, repeating with period N.
// Each sample takes the colour of its nearest feature point and darkens close to the
// plane bisecting the nearest and second-nearest points.
constexpr int cellGrid = 8;

struct CellFeature {
    double x, y, z;
    Rgb colour;
};

struct CellCandidate {
    double x, y, z;
    int feature;
};

using CellNeighbours = std::array<CellCandidate, 27>;

std::vector<CellFeature> cellFeatures(double cellSize) {
    constexpr int G = cellGrid;
    constexpr uint32_t seed = 71;
    std::vector<CellFeature> features(G * G * G);
    for (int k = 0; k < G; ++k)
        for (int j = 0; j < G; ++j)
            for (int i = 0; i < G; ++i) {
                const uint32_t h = hash3(i, j, k, seed);
                auto jitter = [&](uint32_t salt) { return 0.15 + 0.7 * unit(hash32(h ^ salt)); };
                CellFeature& f = features[i + G * (j + G * k)];
                f.x = (i + jitter(1)) * cellSize;
                f.y = (j + jitter(2)) * cellSize;
                f.z = (k + jitter(3)) * cellSize;
                f.colour = hsv(unit(hash32(h ^ 4)), 0.35 + 0.45 * unit(hash32(h ^ 5)),
                               0.70 + 0.25 * unit(hash32(h ^ 6)));
            }
    return features;
}

// The 27 feature points around grid cell (i, j, k), shifted into the same period so the
// inner loop needs no wrapping.
CellNeighbours cellNeighbours(const std::vector<CellFeature>& features, int n, int i, int j,
                              int k) {
    constexpr int G = cellGrid;
    CellNeighbours list;
    int c = 0;
    for (int dk = -1; dk <= 1; ++dk)
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                const int a = i + di, b = j + dj, e = k + dk;
                const int id = wrap(a, G) + G * (wrap(b, G) + G * wrap(e, G));
                const CellFeature& f = features[id];
                // Shift by whole periods when the neighbour wrapped around.
                const double sx = (a < 0 ? -n : a >= G ? n : 0);
                const double sy = (b < 0 ? -n : b >= G ? n : 0);
                const double sz = (e < 0 ? -n : e >= G ? n : 0);
                list[c++] = {f.x + sx, f.y + sy, f.z + sz, id};
            }
    return list;
}

std::vector<CellNeighbours> allCellNeighbours(const std::vector<CellFeature>& features, int n) {
    constexpr int G = cellGrid;
    std::vector<CellNeighbours> near(G * G * G);
    for (int k = 0; k < G; ++k)
        for (int j = 0; j < G; ++j)
            for (int i = 0; i < G; ++i)
                near[i + G * (j + G * k)] = cellNeighbours(features, n, i, j, k);
    return near;
}

// The colour at sample (x, y, z) from the feature points around its grid cell.
Rgb cellColour(const CellNeighbours& list, const std::vector<CellFeature>& features,
               double cellSize, int x, int y, int z) {
    double d1 = 1e30, d2 = 1e30;
    int c1 = 0, c2 = 0;
    for (int c = 0; c < 27; ++c) {
        const double ex = list[c].x - x, ey = list[c].y - y, ez = list[c].z - z;
        const double d = ex * ex + ey * ey + ez * ez;
        if (d < d1) {
            d2 = d1, c2 = c1;
            d1 = d, c1 = c;
        } else if (d < d2) {
            d2 = d, c2 = c;
        }
    }
    const CellCandidate &p1 = list[c1], &p2 = list[c2];
    const double sep = std::sqrt((p1.x - p2.x) * (p1.x - p2.x) + (p1.y - p2.y) * (p1.y - p2.y) +
                                 (p1.z - p2.z) * (p1.z - p2.z));
    // Distance (in samples) from this sample to the bisecting plane.
    const double border = (d2 - d1) / (2.0 * sep);
    double shade = 0.3 + 0.7 * smoothstep(0.5, 3.0, border);
    shade *= 1.0 - 0.25 * std::min(1.0, std::sqrt(d1) / cellSize);
    return scale(features[p1.feature].colour, shade);
}

Volume makeCells(int n) {
    constexpr int G = cellGrid;
    const double cellSize = double(n) / G;
    const std::vector<CellFeature> features = cellFeatures(cellSize);
    const std::vector<CellNeighbours> near = allCellNeighbours(features, n);
    Volume vol(n);
    forEachSlice(n, [&](int z) {
        const int gz = std::min(G - 1, int(z / cellSize));
        for (int y = 0; y < n; ++y) {
            const int gy = std::min(G - 1, int(y / cellSize));
            for (int x = 0; x < n; ++x) {
                const int gx = std::min(G - 1, int(x / cellSize));
                const Rgb c = cellColour(near[gx + G * (gy + G * gz)], features, cellSize, x, y, z);
                uint8_t* p = vol.at(x, y, z);
                p[0] = clampedRoundedByte(c.r);
                p[1] = clampedRoundedByte(c.g);
                p[2] = clampedRoundedByte(c.b);
            }
        }
    });
    return vol;
}

// Synthesised from a picture of terrazzo, which is its reference picture, as synth's are.
constexpr int terrazzoPictureSide = 128;

Volume makeTerrazzo(int n) {
    Volume vol(n);
    vol.rgb = synthesizedTerrazzo(n, terrazzoPictureSide);
    return vol;
}

QImage terrazzoReference(const Volume&, int side) {
    return terrazzoPicture(side);
}

// ---------------------------------------------------------------------------------------
// Output

QImage sliceReference(const Volume& vol, int side) {
    return slicePicture(vol.rgb.data(), vol.n, side);
}

struct Recipe {
    const char* name;
    int n;
    int pictureSide;
    Volume (*make)(int);
    QImage (*picture)(const Volume&, int side) = sliceReference; // slice z = 0 unless told
};

const Recipe recipes[] = {
    {"axes", 32, 32, makeAxes},
    {"marble", 128, 128, makeMarble},
    {"wood", 64, 128, makeWood},
    {"granite", 45, 128, makeGranite},
    {"cells", 256, 128, makeCells},
    {"terrazzo", 128, terrazzoPictureSide, makeTerrazzo, terrazzoReference},
};

// The volume through the same sink pack uses, then its reference picture.
std::string writeSample(const Recipe& recipe, const Volume& vol, const QString& volPath,
                        const QString& picturePath) {
    VolumeHeader header;
    header.name = recipe.name;
    header.size = vol.n;
    SliceSink sink;
    std::string failure = openVolumeSink(volPath, header, &sink);
    const std::size_t sliceBytes = 3 * std::size_t(vol.n) * std::size_t(vol.n);
    for (int z = 0; failure.empty() && z < vol.n; ++z)
        failure = sink.write(&vol.rgb[z * sliceBytes]);
    if (failure.empty())
        failure = sink.commit();
    if (!failure.empty())
        return failure;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    recipe.picture(vol, recipe.pictureSide).save(&buffer, "PNG");
    return saveWholeFile(picturePath, png.constData(), png.size());
}

} // namespace

std::string sampleList() {
    std::string list;
    for (const Recipe& recipe : recipes) {
        if (!list.empty())
            list += &recipe == std::end(recipes) - 1 ? " and " : ", ";
        list += recipe.name + std::string(" (") + (list.empty() ? "N = " : "") +
                std::to_string(recipe.n) + ")";
    }
    return list;
}

std::string writeSamples(const QString& folder, bool force) {
    if (!QDir().mkpath(folder))
        return writeFailure(folder, "can't make the folder");
    for (const Recipe& recipe : recipes) {
        const QString volPath = QDir(folder).filePath(QString(recipe.name) + ".vol");
        const QString picturePath = QDir(folder).filePath(QString(recipe.name) + ".png");
        if (!force && QFileInfo::exists(volPath) && QFileInfo::exists(picturePath))
            continue;
        std::string failure = checkOutputPath(volPath, {});
        if (failure.empty())
            failure = checkOutputPath(picturePath, {});
        if (!failure.empty())
            return failure;
        const auto start = std::chrono::steady_clock::now();
        failure = writeSample(recipe, recipe.make(recipe.n), volPath, picturePath);
        if (!failure.empty())
            return failure;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::printf(
            "%s (N=%d, %llu bytes, %.0f ms)\n", qPrintable(volPath), recipe.n,
            static_cast<unsigned long long>(volumeLayout::headerSize + volumeSampleBytes(recipe.n)),
            ms);
        std::printf("%s (%dx%d)\n", qPrintable(picturePath), recipe.pictureSide,
                    recipe.pictureSide);
    }
    return std::string();
}
