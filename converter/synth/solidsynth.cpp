#include "solidsynth.h"

#include "hash.h"
#include "patchsearch.h"
#include "tasks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {
constexpr int maxLevels = 3;
constexpr int iterationsPerLevel[maxLevels] = {2, 3, 4}; // finest first
constexpr int maxCandidates = 1 << 16;
constexpr float weightExponent = 0.8f - 2.0f; // IRLS weights for an r = 0.8 norm
constexpr float smallestDistance = 1.0f;
constexpr std::uint32_t treeShare = 16; // one query in this many also asks the tree
// What a patch costs beyond its share of the last step's matches: each use over the share
// weighs its distance by this much more, so that the solid draws on the whole exemplar
// rather than on the smooth patches that match most easily (Chen and Wang 2010).
constexpr float overuseCost = 1.0f;

// One level of the pyramid: the solid's side, and the exemplars at its scale.
struct Level {
    int n = 0;
    Picture exemplars[3];
    PatchSearch searches[3];
    std::vector<float> histograms[3]; // each channel's values of all three, sorted
};

// The neighbourhoods searched: those centred on samples whose two in-plane coordinates are
// even, for each of the three normals; every sample still lies in several of each.
struct QueryGrid {
    int n = 0, half = 0; // half: the even coordinates along one axis
    std::size_t perNormal() const { return std::size_t(n) * half * half; }
    std::size_t index(int normal, int across, int cu, int cv) const {
        return normal * perNormal() + (std::size_t(across) * half + cv / 2) * half + cu / 2;
    }
};

struct Match {
    std::int32_t centre;
    float weight;
    float distance;
};

// The matches of one step, which the next starts from.
struct Matches {
    QueryGrid grid;
    std::vector<Match> at;
    int widths[3] = {0, 0, 0}; // the exemplars' whose pixels the centres count
};

unsigned threadCount(const SynthSettings& settings) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return settings.threads ? settings.threads : cores;
}

// Runs work(begin, end) over [0, count) in equal parts, one per thread.
void inParts(unsigned threads, std::size_t count,
             const std::function<void(std::size_t, std::size_t)>& work) {
    const unsigned parts =
        unsigned(std::min<std::size_t>(threads, std::max<std::size_t>(1, count)));
    runOnThreads(parts, [&](unsigned t) { work(count * t / parts, count * (t + 1) / parts); });
}

int levelCount(const SynthSettings& settings) {
    int smallest = settings.n;
    for (const Picture* exemplar : settings.exemplars)
        smallest = std::min({smallest, exemplar->width, exemplar->height});
    int levels = 1;
    // Coarser levels while the solid keeps minSynthSide and the exemplars a few patches.
    while (levels < maxLevels && (settings.n >> levels) >= minSynthSide &&
           (smallest >> levels) >= 2 * patchSide)
        ++levels;
    return levels;
}

std::vector<float> channelHistogram(const Level& level, int channel) {
    std::vector<float> values;
    for (const Picture& exemplar : level.exemplars)
        for (std::size_t i = channel; i < exemplar.rgb.size(); i += 3)
            values.push_back(exemplar.rgb[i]);
    std::sort(values.begin(), values.end());
    return values;
}

// Exemplars shared between normals are searched once.
Level makeLevel(const SynthSettings& settings, int n, int factor) {
    Level level;
    level.n = n;
    for (int a = 0; a < 3; ++a) {
        const int same =
            int(std::find(settings.exemplars, settings.exemplars + a, settings.exemplars[a]) -
                settings.exemplars);
        if (same < a) {
            level.exemplars[a] = level.exemplars[same];
            level.searches[a] = level.searches[same];
            continue;
        }
        level.exemplars[a] =
            factor == 1 ? *settings.exemplars[a] : shrinkPicture(*settings.exemplars[a], factor);
        level.searches[a] = buildPatchSearch(level.exemplars[a], maxCandidates);
    }
    for (int c = 0; c < 3; ++c)
        level.histograms[c] = channelHistogram(level, c);
    return level;
}

// Every sample a pixel of an exemplar drawn by the seed.
Solid randomSolid(const Level& level, std::uint32_t seed) {
    Solid solid;
    solid.n = level.n;
    const std::size_t samples = std::size_t(level.n) * level.n * level.n;
    solid.rgb.resize(3 * samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const std::uint32_t h = hash32(hash32(seed ^ 0x9e3779b9U) ^ std::uint32_t(i));
        const Picture& exemplar = level.exemplars[h % 3];
        const std::size_t pixel = hash32(h) % (exemplar.rgb.size() / 3);
        std::copy_n(&exemplar.rgb[3 * pixel], 3, &solid.rgb[3 * i]);
    }
    return solid;
}

// Where fine sample i lies between coarse samples: the lower one (wrapped) and the share of
// the upper one.
struct Tap {
    int lower, upper;
    float share;
};

std::vector<Tap> upsampleTaps(int coarse, int fine) {
    std::vector<Tap> taps(fine);
    for (int i = 0; i < fine; ++i) {
        const double at = (i + 0.5) * coarse / fine - 0.5;
        const int lower = int(std::floor(at));
        taps[i] = {wrapIndex(lower, coarse), wrapIndex(lower + 1, coarse), float(at - lower)};
    }
    return taps;
}

// The coarser solid brought to side n by periodic trilinear interpolation.
Solid upsample(const Solid& coarse, int n) {
    Solid fine;
    fine.n = n;
    fine.rgb.resize(3 * std::size_t(n) * n * n);
    const std::vector<Tap> taps = upsampleTaps(coarse.n, n);
    const auto at = [&](int x, int y, int z) {
        return &coarse.rgb[3 * ((std::size_t(z) * coarse.n + y) * coarse.n + x)];
    };
    std::size_t i = 0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x, i += 3)
                for (int c = 0; c < 3; ++c) {
                    float sum = 0;
                    for (int k = 0; k < 8; ++k) {
                        const Tap &tx = taps[x], &ty = taps[y], &tz = taps[z];
                        const float w = (k & 1 ? tx.share : 1 - tx.share) *
                                        (k & 2 ? ty.share : 1 - ty.share) *
                                        (k & 4 ? tz.share : 1 - tz.share);
                        sum += w * at(k & 1 ? tx.upper : tx.lower, k & 2 ? ty.upper : ty.lower,
                                      k & 4 ? tz.upper : tz.lower)[c];
                    }
                    fine.rgb[i + c] = sum;
                }
    return fine;
}

// Where query q lies: its slice's normal and its centre.
int queryCentre(const QueryGrid& grid, std::size_t q, int centre[3]) {
    const int normal = int(q / grid.perNormal());
    const std::size_t rest = q % grid.perNormal();
    int u, v;
    planeAxes(normal, &u, &v);
    centre[normal] = int(rest / (std::size_t(grid.half) * grid.half));
    centre[v] = 2 * int(rest / grid.half % grid.half);
    centre[u] = 2 * int(rest % grid.half);
    return normal;
}

// Adds the candidate centred on pixel (x, y), if there is one, and those like it.
void addCoherent(const PatchSearch& search, int x, int y, std::int32_t* out, int* count) {
    const int height = int(search.candidateAt.size()) / search.width;
    if (x < 0 || y < 0 || x >= search.width || y >= height)
        return;
    const std::int32_t index = search.candidateAt[std::size_t(y) * search.width + x];
    if (index < 0)
        return;
    out[(*count)++] = index;
    const std::int32_t* similar = &search.similar[std::size_t(index) * similarCount];
    std::copy(similar, similar + similarCount, out + *count);
    *count += similarCount;
}

// The candidates the neighbouring queries' last matches suggest, each shifted to this centre.
int coherentCandidates(const PatchSearch& search, const Matches& last, int normal,
                       const int centre[3], std::int32_t* out) {
    int u, v;
    planeAxes(normal, &u, &v);
    const QueryGrid& grid = last.grid;
    const int width = last.widths[normal];
    int count = 0;
    for (int b = -2; b <= 2; b += 2)
        for (int a = -2; a <= 2; a += 2) {
            const int cu = wrapIndex(centre[u] + a, grid.n), cv = wrapIndex(centre[v] + b, grid.n);
            if (cu % 2 || cv % 2) // past an odd side's wrap
                continue;
            const std::int32_t at = last.at[grid.index(normal, centre[normal], cu, cv)].centre;
            addCoherent(search, at % width - a, at / width + b, out, &count);
        }
    return count;
}

// The candidates the coarser level's matches around this centre suggest, brought to this
// level's pixels (a coarse pixel averages two fine ones a side, and v runs against y).
int upsampledCandidates(const PatchSearch& search, const Matches& coarse, int normal,
                        const int centre[3], std::int32_t* out) {
    int u, v;
    planeAxes(normal, &u, &v);
    const QueryGrid& grid = coarse.grid;
    const int width = coarse.widths[normal];
    const int pu = centre[u] / 2, pv = centre[v] / 2;
    int count = 0;
    for (int b = 0; b <= 2; b += 2)
        for (int a = 0; a <= 2; a += 2) {
            const int ou = pu - pu % 2 + a, ov = pv - pv % 2 + b; // unwrapped coarse centre
            const int cu = wrapIndex(ou, grid.n), cv = wrapIndex(ov, grid.n);
            if (cu % 2 || cv % 2)
                continue;
            const std::int32_t at =
                coarse.at[grid.index(normal, centre[normal] / 2, cu, cv)].centre;
            const int x = at % width + pu - ou, y = at / width - (pv - ov);
            addCoherent(search, 2 * x + centre[u] % 2, 2 * y + 1 - centre[v] % 2, out, &count);
        }
    return count;
}

// Each candidate's cost for normal's next search, from how often the last step at this level
// matched it; empty when the last step was at another level.
std::vector<float> overuseCosts(const PatchSearch& search, const Matches& last, int n, int normal) {
    if (last.at.empty() || last.grid.n != n)
        return {};
    std::vector<std::uint32_t> uses(search.centres.size());
    const std::size_t begin = normal * last.grid.perNormal(), end = begin + last.grid.perNormal();
    for (std::size_t q = begin; q < end; ++q) {
        const std::int32_t candidate = search.candidateAt[std::size_t(last.at[q].centre)];
        if (candidate >= 0)
            ++uses[std::size_t(candidate)];
    }
    const float share = float(end - begin) / float(uses.size());
    std::vector<float> costs(uses.size());
    for (std::size_t c = 0; c < uses.size(); ++c)
        costs[c] = 1 + overuseCost * std::max(0.0f, float(uses[c]) / share - 1);
    return costs;
}

// A match's squared distance weighed by its candidate's cost.
float weighed(const PatchSearch& search, const std::vector<float>& costs, const PatchMatch& m) {
    const std::int32_t candidate = search.candidateAt[std::size_t(m.centre)];
    const float cost = costs.empty() || candidate < 0 ? 1 : costs[std::size_t(candidate)];
    return m.distance * m.distance * cost;
}

// The best of the candidates the last matches suggest, and for a share of the queries (all,
// where there are no last matches) the tree's nearest as well: coherent copies keep the
// averages sharp, and the tree's brings in what no neighbour has yet found.
Match searchOne(const Level& level, const Solid& solid, const QueryGrid& grid, const Matches& last,
                const std::vector<float> (&costs)[3], int step, std::size_t q) {
    int centre[3];
    const int normal = queryCentre(grid, q, centre);
    const PatchSearch& search = level.searches[normal];
    float neighbourhood[patchValues], projected[searchDimensions];
    solidNeighbourhood(solid, normal, centre, neighbourhood);
    projectNeighbourhood(search, neighbourhood, projected);
    std::int32_t candidates[9 * (1 + similarCount)];
    const int count = last.at.empty() ? 0
                      : last.grid.n == grid.n
                          ? coherentCandidates(search, last, normal, centre, candidates)
                          : upsampledCandidates(search, last, normal, centre, candidates);
    const std::vector<float>& cost = costs[normal];
    PatchMatch match{0, std::numeric_limits<float>::max()};
    if (count > 0)
        match =
            nearestOf(search, projected, candidates, count, cost.empty() ? nullptr : cost.data());
    if (count == 0 || hash32(hash32(std::uint32_t(step)) ^ std::uint32_t(q)) % treeShare == 0) {
        const PatchMatch nearest = nearestProjected(search, projected);
        if (count == 0 || weighed(search, cost, nearest) < weighed(search, cost, match))
            match = nearest;
    }
    const float weight = std::pow(std::max(match.distance, smallestDistance), weightExponent);
    return {match.centre, weight, match.distance};
}

// Calls visit(match, pixel) with the matched pixel over one sample of every neighbourhood that
// covers it, in a fixed order.
template <class Visit>
void visitCovers(const Level& level, const QueryGrid& grid, const std::vector<Match>& matches,
                 const int p[3], const Visit& visit) {
    for (int normal = 0; normal < 3; ++normal) {
        int u, v;
        planeAxes(normal, &u, &v);
        const Picture& exemplar = level.exemplars[normal];
        for (int dv = -patchRadius; dv <= patchRadius; ++dv) {
            const int cv = wrapIndex(p[v] + dv, grid.n);
            if (cv % 2)
                continue;
            for (int du = -patchRadius; du <= patchRadius; ++du) {
                const int cu = wrapIndex(p[u] - du, grid.n);
                if (cu % 2)
                    continue;
                const Match& m = matches[grid.index(normal, p[normal], cu, cv)];
                visit(m, &exemplar.rgb[3 * (std::size_t(m.centre) +
                                            std::ptrdiff_t(dv) * exemplar.width + du)]);
            }
        }
    }
}

// The sample as the weighted mean of the pixels over it.
void averageSample(const Level& level, const QueryGrid& grid, const std::vector<Match>& matches,
                   const int p[3], float* out) {
    double sum[3] = {0, 0, 0}, weights = 0;
    visitCovers(level, grid, matches, p, [&](const Match& m, const float* pixel) {
        for (int c = 0; c < 3; ++c)
            sum[c] += double(m.weight) * pixel[c];
        weights += m.weight;
    });
    for (int c = 0; c < 3; ++c)
        out[c] = float(sum[c] / weights);
}

// The sample as the pixel of the best match over it (the first of equals): at the finest
// level a mean of pixels that disagree would blur what the exemplar draws sharp.
void bestSample(const Level& level, const QueryGrid& grid, const std::vector<Match>& matches,
                const int p[3], float* out) {
    float best = -1;
    visitCovers(level, grid, matches, p, [&](const Match& m, const float* pixel) {
        if (m.weight > best) {
            best = m.weight;
            std::copy_n(pixel, 3, out);
        }
    });
}

// One step of the optimisation: match (from the last step's matches, at this level or the
// coarser one), average, match the histograms. The mean distance.
double iterate(const Level& level, unsigned threads, int step, bool finest, Matches* last,
               Solid* solid) {
    const QueryGrid grid{solid->n, (solid->n + 1) / 2};
    std::vector<float> costs[3];
    for (int normal = 0; normal < 3; ++normal)
        costs[normal] = overuseCosts(level.searches[normal], *last, solid->n, normal);
    std::vector<Match> matches(3 * grid.perNormal());
    inParts(threads, matches.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t q = begin; q < end; ++q)
            matches[q] = searchOne(level, *solid, grid, *last, costs, step, q);
    });
    const int n = solid->n;
    std::vector<float> next(solid->rgb.size());
    inParts(threads, std::size_t(n) * n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row)
            for (int x = 0; x < n; ++x) {
                const int p[3] = {x, int(row % n), int(row / n)};
                float* out = &next[3 * (row * n + x)];
                (finest ? bestSample : averageSample)(level, grid, matches, p, out);
            }
    });
    solid->rgb = std::move(next);
    for (int c = 0; c < 3; ++c)
        matchHistogram(solid->rgb.data() + c, solid->rgb.size() / 3, 3, level.histograms[c]);
    double distance = 0;
    for (const Match& m : matches)
        distance += m.distance;
    const double mean = distance / double(matches.size()) / std::sqrt(double(patchValues));
    last->grid = grid;
    last->at = std::move(matches);
    for (int a = 0; a < 3; ++a)
        last->widths[a] = level.exemplars[a].width;
    return mean;
}
} // namespace

bool exemplarFits(const Picture& picture) {
    return picture.width >= patchSide && picture.height >= patchSide;
}

SynthResult synthesizeSolid(const SynthSettings& settings) {
    const int levels = levelCount(settings);
    int total = 0, done = 0;
    for (int l = 0; l < levels; ++l)
        total += iterationsPerLevel[l];
    SynthResult result;
    Solid solid;
    Matches matches;
    for (int l = levels - 1; l >= 0; --l) {
        const int factor = 1 << l;
        const Level level = makeLevel(settings, (settings.n + factor - 1) / factor, factor);
        solid = solid.n == 0 ? randomSolid(level, settings.seed) : upsample(solid, level.n);
        for (int i = 0; i < iterationsPerLevel[l]; ++i) {
            result.energy = iterate(level, threadCount(settings), done, l == 0, &matches, &solid);
            if (settings.progress)
                settings.progress(++done, total);
        }
    }
    result.rgb.resize(solid.rgb.size());
    for (std::size_t i = 0; i < solid.rgb.size(); ++i)
        result.rgb[i] =
            static_cast<unsigned char>(std::lround(std::clamp(solid.rgb[i], 0.f, 255.f)));
    return result;
}
