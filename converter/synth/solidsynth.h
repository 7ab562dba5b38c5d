#pragma once

// Solid texture synthesis from 2-D exemplars by texture optimisation (Kopf et al. 2007, after
// Kwatra et al. 2005): from coarse to fine, each sample's three axis-aligned slice
// neighbourhoods are matched to their nearest exemplar patches, the samples become the
// weighted average of the matched patches' pixels over them, and each channel takes the
// exemplars' histogram. Neighbourhoods wrap at every face, so the solid tiles. The result
// depends on the inputs and the seed alone: never on the thread count or scheduling.

#include "solid.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int minSynthSide = 16;
constexpr int maxSynthSide = 512;

struct SynthSettings {
    // The exemplar whose pictures the slices normal to x, y and z follow.
    const Picture* exemplars[3] = {nullptr, nullptr, nullptr};
    int n = 128;
    std::uint32_t seed = 0;
    unsigned threads = 0; // 0: one per core
    // Called after each step with the steps done and their total.
    std::function<void(int done, int total)> progress;
};

struct SynthResult {
    std::vector<unsigned char> rgb; // n^3 RGB samples, as the .vol stores them
    // The mean distance of the last matches, per sample and colour (0..255).
    double energy = 0;
};

// Whether a picture is large enough to be an exemplar.
bool exemplarFits(const Picture& picture);

// The exemplars must fit and n lie in minSynthSide ... maxSynthSide.
SynthResult synthesizeSolid(const SynthSettings& settings);
