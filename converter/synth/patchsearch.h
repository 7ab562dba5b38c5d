#pragma once

// The nearest patch of an exemplar to a neighbourhood: patches reduced to their principal
// components and searched in a kd-tree, so that one search costs far less than a look at every
// patch. Each candidate also knows a few others much like it elsewhere in the picture
// (k-coherence, Tong et al. 2002), so that a search can weigh a handful of likely candidates
// instead of walking the tree.

#include "solid.h"

#include <cstdint>
#include <memory>
#include <vector>

constexpr int searchDimensions = 12; // the principal components kept
constexpr int similarCount = 4;      // the others each candidate knows

struct PatchTree;

struct PatchSearch {
    int dimensions = 0;                    // at most searchDimensions, fewer when patches vary less
    std::vector<float> mean;               // patchValues
    std::vector<float> basis;              // dimensions rows of patchValues
    std::vector<std::int32_t> centres;     // the candidates' centres, y * width + x
    int width = 0;                         // the picture's
    std::vector<std::int32_t> candidateAt; // per pixel: its candidate's index, or -1
    // similarCount per candidate: the nearest candidates centred at least patchRadius away.
    std::vector<std::int32_t> similar;
    std::shared_ptr<PatchTree> tree;
};

// The search over the patches of picture (at least patchSide pixels a side), the centres on a
// grid as fine as keeps them at most maxCandidates.
PatchSearch buildPatchSearch(const Picture& picture, int maxCandidates);

struct PatchMatch {
    std::int32_t centre = 0; // y * width + x of the picture
    float distance = 0;      // in the components' space
};

// The candidate nearest to neighbourhood (patchValues floats).
PatchMatch nearestPatch(const PatchSearch& search, const float* neighbourhood);

// The neighbourhood's components (searchDimensions floats), as the searches below take it.
void projectNeighbourhood(const PatchSearch& search, const float* neighbourhood, float* out);

// The candidate nearest to the projected neighbourhood, by the tree.
PatchMatch nearestProjected(const PatchSearch& search, const float* projected);

// The nearest of count candidates (indices into centres) to the projected neighbourhood, the
// first of equals; count > 0. With costs (one per candidate of the search), each candidate's
// squared distance is weighed by its cost before they are compared; the distance returned is
// the nearest's own.
PatchMatch nearestOf(const PatchSearch& search, const float* projected,
                     const std::int32_t* candidates, int count, const float* costs = nullptr);
