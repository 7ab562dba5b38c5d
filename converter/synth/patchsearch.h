#pragma once

// The nearest patch of an exemplar to a neighbourhood: patches reduced to their principal
// components and searched in a kd-tree, so that one search costs far less than a look at every
// patch.

#include "solid.h"

#include <cstdint>
#include <memory>
#include <vector>

constexpr int searchDimensions = 12; // the principal components kept

struct PatchTree;

struct PatchSearch {
    int dimensions = 0;                // at most searchDimensions, fewer when patches vary less
    std::vector<float> mean;           // patchValues
    std::vector<float> basis;          // dimensions rows of patchValues
    std::vector<std::int32_t> centres; // the candidates' centres, y * width + x
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
