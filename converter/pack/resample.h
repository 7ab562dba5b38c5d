#pragma once

// Resampling RGB volumes to new sizes, one axis at a time and slice by slice. Along an axis
// that shrinks, each output sample is the average of the source samples it covers, weighted by
// how much of each it covers, so a pattern finer than the output turns grey instead of
// aliasing; along an axis that grows, samples are interpolated linearly between the two
// nearest source samples (sample centres aligned, edges repeated).

#include "slicestream.h"

// The source resampled to width x height x depth (each at least 1). An output slice reads only
// the source slices it needs, in order, and at most two of them (reduced to the output's x and
// y size) are held at once, made on the first read. A source of those sizes already is
// returned as it is. The padding of a padded source is never read: output slices made of
// padding alone are black without any work, and the others weigh the inner volume only.
SliceSource resampleSource(const SliceSource& source, int width, int height, int depth);

// The bytes a resampler of source (as it reads it: a padded source's inner volume) to slices
// of width x height holds, the source's memory included.
std::uint64_t resampleMemory(const SliceSource& source, int width, int height);

// The sizes that give samples of equal spacing: an axis of C samples at spacing s becomes
// round(C * s / finest) samples, finest the smallest spacing of the axes of more than one
// sample. An axis of one sample has no spacing to honour (a file may still give one, such as a
// slice's thickness): it stays one sample and its spacing is ignored. Returns "" or a message
// when a spacing used is not a positive number or a size would pass maxSide.
[[nodiscard]] std::string cubicSampleSizes(const int sizes[3], const double spacing[3], int maxSide,
                                           int resampled[3]);
