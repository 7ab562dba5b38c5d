// Solid synthesis: its building blocks (periodic neighbourhoods, histogram matching, the
// search), the solid it makes (deterministic, seeded, tiling) and tessary-vol synth's refusals.

#include "patchsearch.h"
#include "solid.h"
#include "solidsynth.h"
#include "testruns.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

// A picture of soft blobs on stripes: structure at several scales, no two patches alike.
Picture blobPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> place(0.0f, 1.0f);
    Picture picture{width, height, std::vector<float>(3 * std::size_t(width) * height)};
    std::vector<std::array<float, 2>> blobs(12);
    for (auto& blob : blobs)
        blob = {place(random) * width, place(random) * height};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float near = 1e9f;
            for (const auto& blob : blobs)
                near = std::min(near, std::hypot(x - blob[0], y - blob[1]));
            const float stripe = 0.5f + 0.5f * std::sin(0.7f * x + 0.3f * y);
            float* pixel = &picture.rgb[3 * (std::size_t(y) * width + x)];
            pixel[0] = std::round(std::clamp(255.0f - 30.0f * near, 0.0f, 255.0f));
            pixel[1] = std::round(200.0f * stripe);
            pixel[2] = std::round(std::fmod(37.0f * x + 11.0f * y, 256.0f));
        }
    return picture;
}

QImage toImage(const Picture& picture) {
    QImage image(picture.width, picture.height, QImage::Format_RGB888);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const float* p = &picture.rgb[3 * (std::size_t(y) * picture.width + x)];
            image.setPixel(x, y, qRgb(int(p[0]), int(p[1]), int(p[2])));
        }
    return image;
}

SynthResult synthesize(const Picture& exemplar, int n, std::uint32_t seed, unsigned threads) {
    SynthSettings settings;
    settings.exemplars[0] = settings.exemplars[1] = settings.exemplars[2] = &exemplar;
    settings.n = n;
    settings.seed = seed;
    settings.threads = threads;
    return synthesizeSolid(settings);
}

// A solid whose sample at (x, y, z) holds x, y and z.
Solid coordinateSolid(int n) {
    Solid solid{n, std::vector<float>(3 * std::size_t(n) * n * n)};
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                for (int c = 0; c < 3; ++c)
                    solid.rgb[3 * ((std::size_t(z) * n + y) * n + x) + c] = float(c == 0   ? x
                                                                                  : c == 1 ? y
                                                                                           : z);
    return solid;
}

TEST(SynthBlocksTest, NeighbourhoodsWrapAtEveryFace) {
    const Solid solid = coordinateSolid(16);
    struct Case {
        int normal, centre[3], du, dv, expected[3];
    };
    // du runs along the slice's columns, dv down its rows (against the axis).
    const Case cases[] = {
        {2, {0, 0, 5}, -3, 0, {13, 0, 5}}, {2, {15, 15, 5}, 3, -3, {2, 2, 5}},
        {2, {4, 0, 0}, 0, 2, {4, 14, 0}},  {1, {0, 7, 15}, -1, -3, {15, 7, 2}},
        {1, {15, 0, 0}, 2, 3, {1, 0, 13}}, {0, {9, 0, 15}, -2, -1, {9, 14, 0}},
        {0, {0, 15, 0}, 3, 3, {0, 2, 13}},
    };
    float patch[patchValues];
    for (const Case& c : cases) {
        solidNeighbourhood(solid, c.normal, c.centre, patch);
        const float* sample = &patch[3 * ((c.dv + patchRadius) * patchSide + c.du + patchRadius)];
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_EQ(sample[axis], float(c.expected[axis]))
                << "normal " << c.normal << " du " << c.du << " dv " << c.dv << " axis " << axis;
    }
}

TEST(SynthBlocksTest, HistogramMatchingGivesTheTargetsValuesInTheSamplesOrder) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    std::vector<float> target(4096);
    for (float& t : target)
        t = std::round(value(random));
    std::sort(target.begin(), target.end());
    for (std::size_t count : {std::size_t(4096), std::size_t(1000)}) {
        std::vector<float> samples(2 * count); // every other one matched: a stride of 2
        for (float& s : samples)
            s = value(random) * 0.1f + 3.0f;
        const std::vector<float> before = samples;
        matchHistogram(samples.data(), count, 2, target);
        std::vector<float> matched;
        for (std::size_t i = 0; i < count; ++i) {
            matched.push_back(samples[2 * i]);
            EXPECT_EQ(samples[2 * i + 1], before[2 * i + 1]);
            for (std::size_t j : {i / 2, i / 3}) // order kept
                if (before[2 * j] < before[2 * i]) {
                    ASSERT_LE(samples[2 * j], samples[2 * i]);
                }
        }
        std::sort(matched.begin(), matched.end());
        if (count == target.size())
            EXPECT_EQ(matched, target);
        else // each value the target's at its rank
            for (std::size_t r : {std::size_t(0), count / 2, count - 1})
                EXPECT_EQ(matched[r], target[std::size_t((r + 0.5) * target.size() / count)]);
    }
}

TEST(SynthBlocksTest, EqualValuesTakeTheTargetsValuesInNoOrderOfPosition) {
    // One value everywhere against a spread target: in memory order, the first samples (a
    // solid's first planes) would take all the low values and its wrap would show a step.
    std::vector<float> target(3000);
    for (std::size_t i = 0; i < target.size(); ++i)
        target[i] = float(i % 256) < 128 ? 10.0f : 200.0f;
    std::sort(target.begin(), target.end());
    std::vector<float> samples(3000, 50.0f);
    matchHistogram(samples.data(), samples.size(), 1, target);
    double quarters[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < samples.size(); ++i)
        quarters[4 * i / samples.size()] += samples[i] / (samples.size() / 4.0);
    for (const double quarter : quarters)
        EXPECT_NEAR(quarter, 105.0, 15.0);
    std::sort(samples.begin(), samples.end());
    EXPECT_EQ(samples, target);
}

TEST(SynthBlocksTest, SimilarCandidatesAreNearInLookAndApartInPlace) {
    const Picture exemplar = blobPicture(40, 30, 3);
    const PatchSearch search = buildPatchSearch(exemplar, 1 << 16);
    ASSERT_EQ(search.similar.size(), search.centres.size() * similarCount);
    float patch[patchValues], projected[searchDimensions];
    std::size_t closer = 0;
    for (std::size_t i = 0; i < search.centres.size(); ++i) {
        const std::int32_t centre = search.centres[i];
        EXPECT_EQ(search.candidateAt[std::size_t(centre)], std::int32_t(i));
        picturePatch(exemplar, centre % exemplar.width, centre / exemplar.width, patch);
        projectNeighbourhood(search, patch, projected);
        const std::int32_t* similar = &search.similar[i * similarCount];
        for (int k = 0; k < similarCount; ++k) {
            const std::int32_t other = search.centres[std::size_t(similar[k])];
            const int apart = std::max(std::abs(other % exemplar.width - centre % exemplar.width),
                                       std::abs(other / exemplar.width - centre / exemplar.width));
            EXPECT_TRUE(apart >= patchRadius || similar[k] == std::int32_t(i)) << i;
        }
        // The first similar one is nearer than a candidate picked without looking.
        const std::int32_t far =
            std::int32_t((i + search.centres.size() / 2) % search.centres.size());
        closer += nearestOf(search, projected, similar, 1).distance <
                  nearestOf(search, projected, &far, 1).distance;
    }
    EXPECT_GT(closer, search.centres.size() * 9 / 10);

    // Costs weigh the candidates: the exact patch loses to another once it costs enough, and
    // the distance given is the winner's own.
    const std::int32_t exact = 0, other = std::int32_t(search.centres.size() / 2);
    picturePatch(exemplar, search.centres[0] % exemplar.width, search.centres[0] / exemplar.width,
                 patch);
    projectNeighbourhood(search, patch, projected);
    const std::int32_t both[] = {exact, other};
    std::vector<float> costs(search.centres.size(), 1.0f);
    EXPECT_EQ(nearestOf(search, projected, both, 2, costs.data()).centre, search.centres[0]);
    const float otherDistance = nearestOf(search, projected, &other, 1).distance;
    costs[0] = std::numeric_limits<float>::infinity();
    const PatchMatch costly = nearestOf(search, projected, both, 2, costs.data());
    EXPECT_EQ(costly.centre, search.centres[std::size_t(other)]);
    EXPECT_EQ(costly.distance, otherDistance);
}

TEST(SynthBlocksTest, SearchFindsEveryExactPatch) {
    const Picture exemplar = blobPicture(40, 30, 3);
    const PatchSearch search = buildPatchSearch(exemplar, 1 << 16);
    float patch[patchValues];
    for (int y = patchRadius; y < exemplar.height - patchRadius; y += 5)
        for (int x = patchRadius; x < exemplar.width - patchRadius; x += 3) {
            picturePatch(exemplar, x, y, patch);
            const PatchMatch match = nearestPatch(search, patch);
            EXPECT_EQ(match.centre, y * exemplar.width + x) << x << ", " << y;
            EXPECT_LT(match.distance, 1e-2f);
        }
}

TEST(SynthSolidTest, SameBytesWithAnyThreadCountAndOthersWithAnotherSeed) {
    const Picture exemplar = blobPicture(32, 32, 1);
    const SynthResult one = synthesize(exemplar, 32, 5, 1);
    const SynthResult two = synthesize(exemplar, 32, 5, 2);
    ASSERT_EQ(one.rgb.size(), 3u * 32 * 32 * 32);
    EXPECT_TRUE(one.rgb == two.rgb);
    EXPECT_EQ(one.energy, two.energy);
    const SynthResult other = synthesize(exemplar, 32, 6, 2);
    std::size_t differ = 0;
    for (std::size_t i = 0; i < one.rgb.size(); ++i)
        differ += one.rgb[i] != other.rgb[i];
    EXPECT_GT(differ, one.rgb.size() / 4);
}

// The mean colour step between planes k and k + 1 across axis (k + 1 wrapped).
double meanStep(const std::vector<unsigned char>& rgb, int n, int axis, int k) {
    double sum = 0;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            int p[3], q[3];
            p[axis] = k, q[axis] = (k + 1) % n;
            p[(axis + 1) % 3] = q[(axis + 1) % 3] = a;
            p[(axis + 2) % 3] = q[(axis + 2) % 3] = b;
            const auto at = [&](const int* s) {
                return &rgb[3 * ((std::size_t(s[2]) * n + s[1]) * n + s[0])];
            };
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(at(p)[c]) - int(at(q)[c]));
        }
    return sum / (3.0 * n * n);
}

TEST(SynthSolidTest, OppositeFacesContinueEachOther) {
    const int n = 32;
    const SynthResult solid = synthesize(blobPicture(48, 48, 2), n, 0, 2);
    for (int axis = 0; axis < 3; ++axis) {
        double inside = 0;
        for (int k = 0; k + 1 < n; ++k)
            inside += meanStep(solid.rgb, n, axis, k) / (n - 1);
        EXPECT_LE(meanStep(solid.rgb, n, axis, n - 1), 1.2 * inside) << "axis " << axis;
        EXPECT_GT(inside, 1.0) << "axis " << axis; // not a flat solid
    }
}

TEST(SynthSolidTest, ColoursHaveTheExemplarsHistogram) {
    const Picture exemplar = blobPicture(64, 64, 4); // as many pixels as 16^3 samples
    const SynthResult solid = synthesize(exemplar, 16, 1, 2);
    for (int c = 0; c < 3; ++c) {
        std::vector<int> made(256, 0), wanted(256, 0);
        for (std::size_t i = c; i < solid.rgb.size(); i += 3)
            ++made[solid.rgb[i]];
        for (std::size_t i = c; i < exemplar.rgb.size(); i += 3)
            ++wanted[int(exemplar.rgb[i])];
        EXPECT_EQ(made, wanted) << "channel " << c;
    }
}

// Flat rectangles of a few greys: every edge a jump, none a ramp.
Picture mosaicPicture(int side, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture{side, side, std::vector<float>(3 * std::size_t(side) * side)};
    std::vector<int> columns = {0}, rows = {0};
    while (columns.back() < side)
        columns.push_back(columns.back() + 4 + int(random() % 7));
    while (rows.back() < side)
        rows.push_back(rows.back() + 4 + int(random() % 7));
    std::vector<float> greys((columns.size()) * rows.size());
    for (float& grey : greys)
        grey = float(30 * (random() % 8));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const auto cell = [](const std::vector<int>& edges, int at) {
                return std::size_t(std::upper_bound(edges.begin(), edges.end(), at) -
                                   edges.begin() - 1);
            };
            const float grey = greys[cell(rows, y) * columns.size() + cell(columns, x)];
            std::fill_n(&picture.rgb[3 * (std::size_t(y) * side + x)], 3, grey);
        }
    return picture;
}

// The root mean square step between neighbouring values along rows and columns: a ramp of
// small steps, however long, counts for less than the one jump it smooths.
template <class At> double rmsNeighbourStep(int width, int height, const At& at) {
    double sum = 0;
    for (int y = 0; y + 1 < height; ++y)
        for (int x = 0; x + 1 < width; ++x)
            for (const double step : {at(x + 1, y) - at(x, y), at(x, y + 1) - at(x, y)})
                sum += step * step;
    return std::sqrt(sum / (2.0 * (width - 1) * (height - 1)));
}

TEST(SynthSolidTest, SharpEdgesStaySharp) {
    // The histogram keeps every value one of the exemplar's greys, so a blur shows as its
    // ramps do after that: runs of one grey's step each where the exemplar jumps.
    const Picture exemplar = mosaicPicture(64, 8);
    const double wanted = rmsNeighbourStep(exemplar.width, exemplar.height, [&](int x, int y) {
        return double(exemplar.rgb[3 * (std::size_t(y) * exemplar.width + x)]);
    });
    const int n = 32;
    const SynthResult solid = synthesize(exemplar, n, 3, 2);
    for (int normal = 0; normal < 3; ++normal) {
        int u, v;
        planeAxes(normal, &u, &v);
        const double made = rmsNeighbourStep(n, n, [&](int a, int b) {
            int p[3];
            p[normal] = n / 3;
            p[u] = a;
            p[v] = b;
            return double(solid.rgb[3 * ((std::size_t(p[2]) * n + p[1]) * n + p[0])]);
        });
        EXPECT_GT(made, 0.9 * wanted) << "normal " << normal;
        EXPECT_LT(made, 1.5 * wanted) << "normal " << normal; // nor noise
    }
}

// A PNG of one pixel whose header claims width x height.
std::string claimedPng(std::uint32_t width, std::uint32_t height) {
    std::string png = pngBytes(filledPicture(1, 1, Qt::gray));
    for (int k = 0; k < 4; ++k) {
        png[16 + k] = char(width >> (24 - 8 * k));
        png[20 + k] = char(height >> (24 - 8 * k));
    }
    const std::uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17); // "IHDR" and its data
    for (int k = 0; k < 4; ++k)
        png[29 + k] = char(crc >> (24 - 8 * k));
    return png;
}

TEST(SynthCommandTest, WritesTheSolidAndTheExemplarAsItsPicture) {
    ScratchDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(toImage(blobPicture(300, 40, 5)).save("wide.png"));
    const ToolRun run = runTool({"synth", "wide.png", "-o", "stone.vol", "--size", "16"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("16^3 synthesised from wide.png, seed 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("matching energy"), std::string::npos) << run.out;
    EXPECT_EQ(loadedSamples("stone.vol").size(), 3u * 16 * 16 * 16);
    const QImage picture("stone.png");
    EXPECT_EQ(picture.size(), QSize(256, 34)); // the exemplar fitted to 256 a side
}

TEST(SynthCommandTest, RefusesBadExemplarsAndSizes) {
    ScratchDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(toImage(blobPicture(5, 40, 6)).save("thin.png"));
    ASSERT_TRUE(toImage(blobPicture(32, 32, 6)).save("good.png"));
    writeFile("bomb.png", claimedPng(100000, 100000));
    const struct {
        QStringList arguments;
        const char* prefix;
        const char* what;
    } refusals[] = {
        {{"missing.png"}, "missing.png: ", "can't open input file"},
        {{"thin.png"}, "thin.png: ", "at least 7 x 7"},
        {{"bomb.png"}, "bomb.png: ", "100000 x 100000"},
        {{"good.png", "--xz", "bomb.png"}, "bomb.png: ", "100000 x 100000"},
        {{"good.png", "--yz", "thin.png"}, "thin.png: ", "at least 7 x 7"},
    };
    for (const auto& refusal : refusals) {
        const ToolRun run = runTool(QStringList{"synth"} + refusal.arguments +
                                    QStringList{"-o", "out.vol", "--size", "16"});
        expectRefusal(run, refusal.prefix, refusal.what);
        EXPECT_FALSE(QFileInfo::exists("out.vol"));
    }
    for (const char* size : {"0", "15", "513", "100000", "many"}) {
        const ToolRun run = runTool({"synth", "good.png", "-o", "out.vol", "--size", size});
        EXPECT_EQ(run.status, 2) << size;
        EXPECT_NE(run.err.find("--size takes N from 16 to 512"), std::string::npos) << run.err;
    }
}

} // namespace
