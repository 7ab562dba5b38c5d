#include "synthquality.h"

#include "patchsearch.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {
constexpr int slicesMeasured = 8;
constexpr int neighbourhoodsMeasured = 3000; // of all the pictures judged, together
constexpr int quantiles = 512;
constexpr int directions = 32; // of the sliced Wasserstein distance

// The slice as a picture: columns along u, rows down along v (as the solid's neighbourhoods
// show it).
Picture slicePicture(const Solid& solid, int normal, int at) {
    int u, v;
    planeAxes(normal, &u, &v);
    const int n = solid.n;
    Picture picture;
    picture.width = picture.height = n;
    picture.rgb.resize(std::size_t(3) * n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            int p[3];
            p[normal] = at;
            p[u] = x;
            p[v] = n - 1 - y;
            const float* sample =
                &solid.rgb[3 * ((std::size_t(p[2]) * n + std::size_t(p[1])) * n + p[0])];
            std::copy(sample, sample + 3, &picture.rgb[3 * (std::size_t(y) * n + x)]);
        }
    return picture;
}

Picture cropPicture(const Picture& picture, int x0, int width) {
    Picture crop;
    crop.width = width;
    crop.height = picture.height;
    for (int y = 0; y < picture.height; ++y) {
        const float* row = &picture.rgb[3 * (std::size_t(y) * picture.width + x0)];
        crop.rgb.insert(crop.rgb.end(), row, row + 3 * width);
    }
    return crop;
}

// The exemplar's pixels in a shuffled order: white noise of its colours.
Picture shuffledPicture(const Picture& picture) {
    std::vector<std::size_t> order(std::size_t(picture.width) * picture.height);
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    Picture noise = picture;
    for (std::size_t i = 0; i < order.size(); ++i)
        std::copy_n(&picture.rgb[3 * order[i]], 3, &noise.rgb[3 * i]);
    return noise;
}

Picture flatPicture(const Picture& picture) {
    float mean[3] = {0, 0, 0};
    const std::size_t pixels = picture.rgb.size() / 3;
    for (std::size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            mean[c] += picture.rgb[3 * i + std::size_t(c)] / float(pixels);
    Picture flat = picture;
    for (std::size_t i = 0; i < pixels; ++i)
        std::copy_n(mean, 3, &flat.rgb[3 * i]);
    return flat;
}

// The mean distance, per value, of neighbourhoods of the pictures to their nearest patch of
// the reference.
double patchEnergy(const std::vector<Picture>& pictures, const Picture& reference) {
    const PatchSearch search = buildPatchSearch(reference, 1 << 16);
    std::mt19937 random(2);
    std::vector<float> query(patchValues), found(patchValues);
    double sum = 0;
    for (int k = 0; k < neighbourhoodsMeasured; ++k) {
        const Picture& picture = pictures[std::size_t(k) % pictures.size()];
        const int x = patchRadius + int(random() % unsigned(picture.width - 2 * patchRadius));
        const int y = patchRadius + int(random() % unsigned(picture.height - 2 * patchRadius));
        picturePatch(picture, x, y, query.data());
        const PatchMatch match = nearestPatch(search, query.data());
        picturePatch(reference, match.centre % reference.width, match.centre / reference.width,
                     found.data());
        double distance = 0;
        for (int i = 0; i < patchValues; ++i)
            distance += double(query[std::size_t(i)] - found[std::size_t(i)]) *
                        (query[std::size_t(i)] - found[std::size_t(i)]);
        sum += std::sqrt(distance / patchValues);
    }
    return sum / neighbourhoodsMeasured;
}

// The values' quantiles, evenly spaced in rank.
std::vector<double> quantilesOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::vector<double> out(quantiles, 0);
    for (int q = 0; q < quantiles && !values.empty(); ++q)
        out[std::size_t(q)] = values[std::size_t((q + 0.5) * double(values.size()) / quantiles)];
    return out;
}

double wasserstein(const std::vector<double>& a, const std::vector<double>& b) {
    const std::vector<double> qa = quantilesOf(a), qb = quantilesOf(b);
    double sum = 0;
    for (int q = 0; q < quantiles; ++q)
        sum += std::abs(qa[std::size_t(q)] - qb[std::size_t(q)]);
    return sum / quantiles;
}

double luminance(const Picture& picture, int x, int y) {
    const float* p = &picture.rgb[3 * (std::size_t(y) * picture.width + x)];
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
}

// The luminance differences at the step, down the rows or along the columns.
std::vector<double> differences(const std::vector<Picture>& pictures, int step, bool down) {
    std::vector<double> out;
    for (const Picture& picture : pictures)
        for (int y = 0; y + (down ? step : 0) < picture.height; ++y)
            for (int x = 0; x + (down ? 0 : step) < picture.width; ++x)
                out.push_back(luminance(picture, x + (down ? 0 : step), y + (down ? step : 0)) -
                              luminance(picture, x, y));
    return out;
}

double detailDistance(const std::vector<Picture>& pictures, const Picture& reference) {
    double sum = 0;
    for (const int step : {1, 2, 4})
        for (const bool down : {false, true})
            sum += wasserstein(differences(pictures, step, down),
                               differences({reference}, step, down));
    return sum / 6;
}

double colourDistance(const std::vector<Picture>& pictures, const Picture& reference) {
    std::mt19937 random(3);
    std::normal_distribution<double> normal;
    double sum = 0;
    for (int d = 0; d < directions; ++d) {
        double axis[3] = {normal(random), normal(random), normal(random)};
        const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        const auto project = [&](const std::vector<Picture>& all) {
            std::vector<double> out;
            for (const Picture& picture : all)
                for (std::size_t i = 0; i < picture.rgb.size(); i += 3)
                    out.push_back((axis[0] * picture.rgb[i] + axis[1] * picture.rgb[i + 1] +
                                   axis[2] * picture.rgb[i + 2]) /
                                  length);
            return out;
        };
        sum += wasserstein(project(pictures), project({reference}));
    }
    return sum / directions;
}

// The measure scaled: 0 at the halves' figure, 1 at the bad one's.
double scaled(double value, double halves, double bad) {
    return bad > halves ? (value - halves) / (bad - halves) : 0;
}
} // namespace

SynthQuality sliceQuality(const Picture& exemplar, const Solid& solid, int normal) {
    std::vector<Picture> slices;
    for (int k = 0; k < slicesMeasured; ++k)
        slices.push_back(slicePicture(solid, normal, k * solid.n / slicesMeasured));
    const int half = exemplar.width / 2;
    const std::vector<Picture> left = {cropPicture(exemplar, 0, half)};
    const Picture right = cropPicture(exemplar, half, exemplar.width - half);
    SynthQuality quality;
    quality.energy = scaled(patchEnergy(slices, exemplar), patchEnergy(left, right),
                            patchEnergy({shuffledPicture(exemplar)}, exemplar));
    quality.detail = scaled(detailDistance(slices, exemplar), detailDistance(left, right),
                            detailDistance({flatPicture(exemplar)}, exemplar));
    quality.colour = scaled(colourDistance(slices, exemplar), colourDistance(left, right),
                            colourDistance({flatPicture(exemplar)}, exemplar));
    return quality;
}

double wrapStepRatio(const Solid& solid, int axis) {
    const int n = solid.n;
    const std::size_t stride[3] = {3, 3 * std::size_t(n), 3 * std::size_t(n) * n};
    double inside = 0, across = 0;
    for (std::size_t i = 0; i < solid.rgb.size(); i += 3) {
        const int at = int(i / stride[axis] % std::size_t(n));
        const std::size_t next =
            at == n - 1 ? i - stride[axis] * std::size_t(n - 1) : i + stride[axis];
        double step = 0;
        for (int c = 0; c < 3; ++c)
            step += std::abs(solid.rgb[i + std::size_t(c)] - solid.rgb[next + std::size_t(c)]);
        (at == n - 1 ? across : inside) += step;
    }
    inside /= double(n - 1);
    return inside > 0 ? across / inside : 0;
}
