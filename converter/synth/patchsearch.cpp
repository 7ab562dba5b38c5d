#include "patchsearch.h"

#include <Eigen/Dense>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace {
constexpr float searchSlack = 1.0f; // nanoflann's eps: within (1 + eps) of the nearest

// nanoflann's view of the candidates' components.
struct Candidates {
    const std::vector<float>* points;
    int dimensions;
    std::size_t kdtree_get_point_count() const { return points->size() / dimensions; }
    float kdtree_get_pt(std::size_t i, std::size_t d) const {
        return (*points)[i * std::size_t(dimensions) + d];
    }
    template <class Box> bool kdtree_get_bbox(Box&) const { return false; }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Candidates>,
                                                 Candidates, -1, std::uint32_t>;

using Matrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// The candidates' centres: every step-th pixel far enough inside on both axes.
std::vector<std::int32_t> candidateCentres(const Picture& picture, int maxCandidates) {
    const int across = picture.width - 2 * patchRadius, down = picture.height - 2 * patchRadius;
    int step = 1;
    while (std::int64_t((across + step - 1) / step) * ((down + step - 1) / step) > maxCandidates)
        ++step;
    std::vector<std::int32_t> centres;
    for (int y = patchRadius; y < picture.height - patchRadius; y += step)
        for (int x = patchRadius; x < picture.width - patchRadius; x += step)
            centres.push_back(y * picture.width + x);
    return centres;
}

Matrix patchRows(const Picture& picture, const std::vector<std::int32_t>& centres) {
    Matrix rows(Eigen::Index(centres.size()), patchValues);
    for (std::size_t i = 0; i < centres.size(); ++i)
        picturePatch(picture, centres[i] % picture.width, centres[i] / picture.width,
                     rows.row(Eigen::Index(i)).data());
    return rows;
}

// The mean and the leading principal axes of the patches (their covariance's eigenvectors).
void principalAxes(const Matrix& rows, PatchSearch* search) {
    const Eigen::RowVectorXf mean = rows.colwise().mean();
    const Eigen::MatrixXd centred = (rows.rowwise() - mean).cast<double>();
    const Eigen::MatrixXd covariance =
        centred.transpose() * centred / double(std::max<Eigen::Index>(1, rows.rows()));
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(covariance);
    search->dimensions = searchDimensions;
    search->mean.assign(mean.data(), mean.data() + patchValues);
    search->basis.resize(std::size_t(searchDimensions) * patchValues);
    for (int d = 0; d < searchDimensions; ++d) { // the eigenvalues come in growing order
        const Eigen::VectorXd axis = solver.eigenvectors().col(patchValues - 1 - d);
        for (int k = 0; k < patchValues; ++k)
            search->basis[std::size_t(d) * patchValues + k] = float(axis[k]);
    }
}

void project(const PatchSearch& search, const float* patch, float* out) {
    for (int d = 0; d < search.dimensions; ++d) {
        const float* axis = &search.basis[std::size_t(d) * patchValues];
        float sum = 0;
        for (int k = 0; k < patchValues; ++k)
            sum += (patch[k] - search.mean[k]) * axis[k];
        out[d] = sum;
    }
}
} // namespace

// The tree and the points it indexes, kept together where neither moves.
struct PatchTree {
    std::vector<float> points;
    Candidates candidates;
    Tree tree;
    PatchTree(std::vector<float> components, int dimensions)
        : points(std::move(components)), candidates{&points, dimensions},
          tree(dimensions, candidates, nanoflann::KDTreeSingleIndexAdaptorParams(16)) {}
};

namespace {
std::vector<std::int32_t> candidateIndices(const Picture& picture,
                                           const std::vector<std::int32_t>& centres) {
    std::vector<std::int32_t> at(std::size_t(picture.width) * picture.height, -1);
    for (std::size_t i = 0; i < centres.size(); ++i)
        at[std::size_t(centres[i])] = std::int32_t(i);
    return at;
}

// Each candidate's nearest others that do not overlap it much: a neighbour a pixel away is
// nearly always close and adds nothing a shift would not.
std::vector<std::int32_t> similarCandidates(const PatchSearch& search) {
    constexpr int asked = 4 * similarCount + 1;
    const std::size_t count = search.centres.size();
    std::vector<std::int32_t> similar(count * similarCount);
    std::uint32_t found[asked];
    float squared[asked];
    for (std::size_t i = 0; i < count; ++i) {
        const float* point = &search.tree->points[i * std::size_t(search.dimensions)];
        nanoflann::KNNResultSet<float, std::uint32_t> result(asked);
        result.init(found, squared);
        search.tree->tree.findNeighbors(result, point, nanoflann::SearchParams(32, searchSlack));
        const int x = search.centres[i] % search.width, y = search.centres[i] / search.width;
        int kept = 0;
        for (std::size_t k = 0; k < result.size() && kept < similarCount; ++k) {
            const std::int32_t other = search.centres[found[k]];
            if (std::max(std::abs(other % search.width - x), std::abs(other / search.width - y)) >=
                patchRadius)
                similar[i * similarCount + std::size_t(kept++)] = std::int32_t(found[k]);
        }
        for (; kept < similarCount; ++kept) // a picture too small or plain to offer more
            similar[i * similarCount + std::size_t(kept)] = std::int32_t(i);
    }
    return similar;
}
} // namespace

PatchSearch buildPatchSearch(const Picture& picture, int maxCandidates) {
    PatchSearch search;
    search.centres = candidateCentres(picture, maxCandidates);
    search.width = picture.width;
    search.candidateAt = candidateIndices(picture, search.centres);
    const Matrix rows = patchRows(picture, search.centres);
    principalAxes(rows, &search);
    const Eigen::Map<const Matrix> basis(search.basis.data(), search.dimensions, patchValues);
    const Eigen::Map<const Eigen::RowVectorXf> mean(search.mean.data(), patchValues);
    const Matrix points = (rows.rowwise() - mean) * basis.transpose();
    search.tree = std::make_shared<PatchTree>(
        std::vector<float>(points.data(), points.data() + points.size()), search.dimensions);
    search.similar = similarCandidates(search);
    return search;
}

PatchMatch nearestPatch(const PatchSearch& search, const float* neighbourhood) {
    float query[searchDimensions];
    project(search, neighbourhood, query);
    return nearestProjected(search, query);
}

void projectNeighbourhood(const PatchSearch& search, const float* neighbourhood, float* out) {
    project(search, neighbourhood, out);
}

PatchMatch nearestProjected(const PatchSearch& search, const float* query) {
    std::uint32_t index = 0;
    float squared = 0;
    // An approximate search: a neighbour within twice the nearest's distance is as good a
    // match for an average of many, and far cheaper to find.
    nanoflann::KNNResultSet<float, std::uint32_t> result(1);
    result.init(&index, &squared);
    search.tree->tree.findNeighbors(result, query, nanoflann::SearchParams(32, searchSlack));
    return {search.centres[index], std::sqrt(squared)};
}

PatchMatch nearestOf(const PatchSearch& search, const float* projected,
                     const std::int32_t* candidates, int count, const float* costs) {
    const int dimensions = search.dimensions;
    std::int32_t best = candidates[0];
    float bestWeighed = std::numeric_limits<float>::max(), bestSquared = 0;
    for (int k = 0; k < count; ++k) {
        const float* point = &search.tree->points[std::size_t(candidates[k]) * dimensions];
        float squared = 0;
        for (int d = 0; d < dimensions; ++d)
            squared += (point[d] - projected[d]) * (point[d] - projected[d]);
        const float weighed = costs ? squared * costs[candidates[k]] : squared;
        if (weighed < bestWeighed) {
            bestWeighed = weighed;
            bestSquared = squared;
            best = candidates[k];
        }
    }
    return {search.centres[std::size_t(best)], std::sqrt(bestSquared)};
}
