#include "patchsearch.h"

#include <Eigen/Dense>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
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

PatchSearch buildPatchSearch(const Picture& picture, int maxCandidates) {
    PatchSearch search;
    search.centres = candidateCentres(picture, maxCandidates);
    const Matrix rows = patchRows(picture, search.centres);
    principalAxes(rows, &search);
    const Eigen::Map<const Matrix> basis(search.basis.data(), search.dimensions, patchValues);
    const Eigen::Map<const Eigen::RowVectorXf> mean(search.mean.data(), patchValues);
    const Matrix points = (rows.rowwise() - mean) * basis.transpose();
    search.tree = std::make_shared<PatchTree>(
        std::vector<float>(points.data(), points.data() + points.size()), search.dimensions);
    return search;
}

PatchMatch nearestPatch(const PatchSearch& search, const float* neighbourhood) {
    float query[searchDimensions];
    project(search, neighbourhood, query);
    std::uint32_t index = 0;
    float squared = 0;
    // An approximate search: a neighbour within twice the nearest's distance is as good a
    // match for an average of many, and far cheaper to find.
    nanoflann::KNNResultSet<float, std::uint32_t> result(1);
    result.init(&index, &squared);
    search.tree->tree.findNeighbors(result, query, nanoflann::SearchParams(32, searchSlack));
    return {search.centres[index], std::sqrt(squared)};
}
