#include "terrazzo.h"

#include "exemplarpicture.h"

#include "hash.h"
#include "solidsynth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
constexpr std::uint32_t pictureSeed = 0x7e77a220U;
constexpr std::uint32_t synthSeed = 1;
// Chips per 128 x 128 pixels, and their radii there: dense enough that the matrix shows between
// them as thin seams and patches, as in a polished floor.
constexpr int chipsPer128 = 200;
constexpr double smallestRadius = 2.0, largestRadius = 7.0;

double unitHash(std::uint32_t a, std::uint32_t b) {
    return hash32(hash32(pictureSeed ^ a) ^ b) / 4294967296.0;
}

struct Colour {
    double r, g, b;
};

// White marble is the commonest chip; rust, green, black and ochre ones are scattered among it.
Colour chipColour(std::uint32_t chip) {
    static const Colour palette[] = {{0.92, 0.90, 0.86},
                                     {0.66, 0.32, 0.22},
                                     {0.22, 0.38, 0.32},
                                     {0.13, 0.13, 0.14},
                                     {0.80, 0.62, 0.35}};
    static const double share[] = {0.4, 0.2, 0.15, 0.15, 0.1};
    double pick = unitHash(chip, 1);
    int kind = 0;
    while (kind < 4 && pick >= share[kind])
        pick -= share[kind++];
    const double shade = 0.85 + 0.25 * unitHash(chip, 2);
    const Colour& c = palette[kind];
    return {c.r * shade, c.g * shade, c.b * shade};
}

struct Chip {
    double x, y, radius, cosA, sinA, squash;
    Colour colour;
};

Chip makeChip(std::uint32_t i, int side) {
    const double scale = side / 128.0;
    const double angle = 3.14159265358979 * unitHash(i, 5);
    return {side * unitHash(i, 3),
            side * unitHash(i, 4),
            scale * (smallestRadius + (largestRadius - smallestRadius) * unitHash(i, 6)),
            std::cos(angle),
            std::sin(angle),
            0.6 + 0.4 * unitHash(i, 7),
            chipColour(i)};
}

// Whether pixel centre (px, py) lies on the chip: a rounded, squashed square, its offsets
// wrapped so that the picture tiles.
bool covers(const Chip& chip, double px, double py, int side) {
    const auto wrapped = [side](double d) { return d - side * std::round(d / side); };
    const double dx = wrapped(px - chip.x), dy = wrapped(py - chip.y);
    const double u = dx * chip.cosA + dy * chip.sinA;
    const double v = (dy * chip.cosA - dx * chip.sinA) / chip.squash;
    const double d = 0.6 * std::max(std::abs(u), std::abs(v)) + 0.4 * std::hypot(u, v);
    return d < chip.radius;
}

int toByte(double v) {
    return int(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

} // namespace

QImage terrazzoPicture(int side) {
    std::vector<Colour> pixels(std::size_t(side) * side, Colour{0.60, 0.58, 0.54});
    const int chips = chipsPer128 * side * side / (128 * 128);
    for (int i = 0; i < chips; ++i) { // later chips lie over earlier ones
        const Chip chip = makeChip(std::uint32_t(i), side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                if (covers(chip, x + 0.5, y + 0.5, side))
                    pixels[std::size_t(y) * side + x] = chip.colour;
    }
    QImage image(side, side, QImage::Format_RGB888);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const Colour& c = pixels[std::size_t(y) * side + x];
            const double grain =
                0.025 * (unitHash(std::uint32_t(x), std::uint32_t(y) + 65536U) - 0.5);
            image.setPixel(x, y,
                           qRgb(toByte(c.r + grain), toByte(c.g + grain), toByte(c.b + grain)));
        }
    return image;
}

std::vector<unsigned char> synthesizedTerrazzo(int n, int pictureSide) {
    const Picture exemplar = exemplarPicture(terrazzoPicture(pictureSide));
    SynthSettings settings;
    settings.exemplars[0] = settings.exemplars[1] = settings.exemplars[2] = &exemplar;
    settings.n = n;
    settings.seed = synthSeed;
    return synthesizeSolid(settings).rgb;
}
