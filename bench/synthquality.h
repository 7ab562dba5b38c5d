#pragma once

// How closely a solid's slices follow their exemplar, by three measures each scaled so that 0
// is one half of the exemplar judged against the other half and 1 a plainly bad solid:
// - energy: the mean distance of the slices' 7 x 7 neighbourhoods to the exemplar's nearest
//   ones (1: white noise with the exemplar's colours);
// - detail: the distance between the distributions of luminance differences at 1, 2 and 4
//   pixels, down the rows and along the columns, in the slices and in the exemplar (1: no
//   differences at all), which catches the blur and streaks that energy forgives;
// - colour: the sliced Wasserstein distance between the slices' colours and the exemplar's (1:
//   every sample the exemplar's mean colour).
// And whether the solid tiles: the mean step across each wrap against that between planes.

#include "solid.h"

struct SynthQuality {
    double energy = 0, detail = 0, colour = 0;
};

// The measures of the slices of solid normal to axis `normal` against the exemplar.
SynthQuality sliceQuality(const Picture& exemplar, const Solid& solid, int normal);

// The mean absolute step from plane n - 1 to plane 0 along the axis, over the mean step
// between neighbouring planes inside.
double wrapStepRatio(const Solid& solid, int axis);
