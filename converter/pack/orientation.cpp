#include "orientation.h"

#include "text.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

bool AxisMap::identity() const {
    for (int a = 0; a < 3; ++a)
        if (from[a] != a || reversed[a])
            return false;
    return true;
}

namespace {
using Matrix = double[3][3];

double determinant(const Matrix m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The inverse's transpose: the cofactors over the determinant.
void inverseTranspose(const Matrix m, double det, Matrix out) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
}

// The rotation (or reflection) closest to m, its polar factor, which is what the singular value
// decomposition's U V^T gives; false when m spans no volume.
bool closestOrthogonal(const Matrix m, Matrix out) {
    std::copy(&m[0][0], &m[0][0] + 9, &out[0][0]);
    for (int step = 0; step < 100; ++step) {
        const double det = determinant(out);
        if (!std::isfinite(det) || std::fabs(det) < 1e-12)
            return false;
        Matrix inverse;
        inverseTranspose(out, det, inverse);
        double change = 0;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const double next = (out[r][c] + inverse[r][c]) / 2;
                change = std::max(change, std::fabs(next - out[r][c]));
                out[r][c] = next;
            }
        if (change < 1e-14)
            break;
    }
    return true;
}

// The file's axes as unit columns (row: the volume's axis, column: the file's), in the frame
// whose x, y, z the volume's axes follow: LAS+ for a patient's frame, the world's own otherwise.
bool targetColumns(const AxisDirections& axes, Matrix m) {
    for (int file = 0; file < 3; ++file) {
        const double* d = axes.axis[file];
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (!std::isfinite(length) || length == 0)
            return false;
        for (int a = 0; a < 3; ++a)
            m[a][file] = d[a] / length * (axes.patient && a == 0 ? -1 : 1);
    }
    return true;
}

// nibabel's io_orientation: the file axes closest to an axis come first, each takes the axis it
// is closest to of those still free.
AxisMap closestAxes(Matrix r) {
    int order[3] = {0, 1, 2};
    double peak[3];
    for (int c = 0; c < 3; ++c)
        peak[c] = std::max({std::fabs(r[0][c]), std::fabs(r[1][c]), std::fabs(r[2][c])});
    std::stable_sort(order, order + 3, [&](int a, int b) { return peak[a] > peak[b]; });
    AxisMap map;
    for (int file : order) {
        int best = 0;
        for (int a = 1; a < 3; ++a)
            if (std::fabs(r[a][file]) > std::fabs(r[best][file]))
                best = a;
        map.from[best] = file;
        map.reversed[best] = r[best][file] < 0;
        std::fill(r[best], r[best] + 3, 0.0);
    }
    return map;
}

// The largest angle between a file axis and the volume's axis it became.
double offDegrees(const Matrix unit, const AxisMap& map) {
    double worst = 0;
    for (int a = 0; a < 3; ++a) {
        const double cosine = std::min(1.0, std::fabs(unit[a][map.from[a]]));
        worst = std::max(worst, std::acos(cosine) * 180 / M_PI);
    }
    return worst;
}

std::string axisWords(const AxisMap& map) {
    std::string words;
    for (int a = 0; a < 3; ++a)
        words += formatString("%s%c = %s%c", a ? ", " : "", "xyz"[a], map.reversed[a] ? "-" : "",
                              "ijk"[map.from[a]]);
    return words;
}
} // namespace

Orientation orientAxes(const AxisDirections& axes) {
    Orientation result;
    if (axes.frame == AxisFrame::Viewer)
        return result;
    if (axes.frame == AxisFrame::Array) {
        result.map.reversed[1] = true;
        return result;
    }
    Matrix unit, closest;
    if (!targetColumns(axes, unit) || !closestOrthogonal(unit, closest)) {
        result.degenerate = true;
        return result;
    }
    result.map = closestAxes(closest);
    result.obliqueDegrees = offDegrees(unit, result.map);
    return result;
}

std::string describeOrientation(const VolumeInfo& info) {
    const AxisDirections& axes = info.axes;
    if (axes.frame == AxisFrame::Viewer)
        return "as stored, the viewer's own order";
    if (axes.frame == AxisFrame::Array)
        return "rows top-down, as pictures";
    const Orientation o = orientAxes(axes);
    if (o.degenerate)
        return "as stored: " + axes.from + " places the axes nowhere";
    std::string words =
        (axes.patient ? "oriented LAS from " : "oriented to the world's axes from ") + axes.from +
        " (" + axisWords(o.map) + ")";
    if (o.obliqueDegrees >= 0.05)
        words += formatString(", oblique: axes up to %.1f degrees off", o.obliqueDegrees);
    return words;
}

std::string describeFileAxes(const AxisDirections& axes) {
    if (axes.frame != AxisFrame::World)
        return std::string();
    static const char* const patientSides[2][3] = {{"left", "posterior", "inferior"},
                                                   {"right", "anterior", "superior"}};
    static const char* const worldSides[2][3] = {{"+x", "+y", "+z"}, {"-x", "-y", "-z"}};
    std::string words;
    for (int file = 0; file < 3; ++file) {
        const double* d = axes.axis[file];
        int a = 0;
        for (int k = 1; k < 3; ++k)
            if (std::fabs(d[k]) > std::fabs(d[a]))
                a = k;
        words += formatString("%s%c: ", file ? ", " : "", "ijk"[file]);
        if (!(std::fabs(d[a]) > 0))
            words += "nowhere";
        else if (axes.patient) // RAS+: a positive component runs toward the second side
            words += formatString("%s to %s", patientSides[d[a] < 0][a], patientSides[d[a] > 0][a]);
        else
            words += worldSides[d[a] < 0][a];
    }
    return words;
}

namespace {
// Where the volume's samples lie in the cube: the sample (x, y, z) is at base + x * step[0] +
// y * step[1] + z * step[2], counting samples; strides of the file's axes i, j, k as given.
struct Walk {
    std::int64_t base = 0;
    std::int64_t step[3] = {0, 0, 0};
};

Walk walkOf(const AxisMap& map, int n, const std::int64_t stride[3]) {
    Walk walk;
    for (int a = 0; a < 3; ++a) {
        const std::int64_t s = stride[map.from[a]];
        walk.step[a] = map.reversed[a] ? -s : s;
        if (map.reversed[a])
            walk.base += (n - 1) * s;
    }
    return walk;
}

// Slice z of the volume from samples (the walk's origin at samples).
void gatherSlice(const unsigned char* samples, const Walk& walk, int n, int z, unsigned char* rgb) {
    for (int y = 0; y < n; ++y) {
        std::int64_t at = walk.base + y * walk.step[1] + z * walk.step[2];
        for (int x = 0; x < n; ++x, at += walk.step[0], rgb += 3)
            std::copy_n(samples + 3 * at, 3, rgb);
    }
}

// The whole cube, read once on the first call that needs it.
struct HeldCube {
    std::mutex lock;
    std::vector<unsigned char> samples;
    std::string failure;
    bool read = false;
};

std::string holdCube(const SliceSource& cube, HeldCube* held) {
    const std::lock_guard<std::mutex> guard(held->lock);
    if (held->read)
        return held->failure;
    held->read = true;
    const std::size_t n = std::size_t(cube.width), slice = 3 * n * n;
    held->samples.resize(slice * n);
    for (std::size_t z = 0; z < n && held->failure.empty(); ++z)
        held->failure = cube.read(int(z), held->samples.data() + z * slice);
    return held->failure;
}
} // namespace

SliceSource orientCube(const SliceSource& cube, const AxisMap& map) {
    if (map.identity())
        return cube;
    const int n = cube.width;
    const std::int64_t square = std::int64_t(n) * n;
    SliceSource turned = cube;
    turned.padding.reset();
    if (map.from[2] == 2 && !map.reversed[2]) {
        const std::int64_t stride[3] = {1, n, 0};
        const Walk walk = walkOf(map, n, stride);
        turned.memory = cube.memory + 3 * std::uint64_t(square) * (cube.concurrent ? 2 : 1);
        turned.read = [cube, walk, n](int z, unsigned char* rgb) {
            thread_local std::vector<unsigned char> slice;
            slice.resize(3 * std::size_t(n) * std::size_t(n));
            const std::string failure = cube.read(z, slice.data());
            if (failure.empty())
                gatherSlice(slice.data(), walk, n, 0, rgb);
            return failure;
        };
        return turned;
    }
    const std::int64_t stride[3] = {1, n, square};
    const Walk walk = walkOf(map, n, stride);
    auto held = std::make_shared<HeldCube>();
    turned.concurrent = false;
    turned.memory = cube.memory + 3 * std::uint64_t(square) * std::uint64_t(n);
    turned.read = [cube, walk, n, held](int z, unsigned char* rgb) {
        const std::string failure = holdCube(cube, held.get());
        if (failure.empty())
            gatherSlice(held->samples.data(), walk, n, z, rgb);
        return failure;
    };
    return turned;
}
