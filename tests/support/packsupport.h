#pragma once

// Typed samples, their description and the orientation rule, for the tests of the converter's
// libraries.

#include "testruns.h"
#include "typedsource.h"

#include <vector>

// The values as samples of the type in host byte order, each sample reversed when swap.
std::string typedBytes(SampleType type, const std::vector<double>& values, bool swap = false);

// Samples of the type in host order, x fastest then y then z, channels interleaved (or each
// channel a volume after the other when planar, as NIfTI's vector dimension stores them); each
// value differs at every position and channel, within every type's range, times slope plus
// intercept.
std::string typedPattern(SampleType type, int w, int h, int d, int channels, bool planar = false,
                         double slope = 1, double intercept = 0);

// What a reader found, in one line:
// "FORMAT: WxHxD TYPE*CHANNELS alpha A, spacing X Y Z known|unknown, ORIENTATION".
std::string describe(const VolumeInfo& info);

// The samples (as the reader yields them, of a cube) turned into the volume's x, y, z as pack
// turns them, by the one orientation rule.
std::string orientedSamples(const VolumeInfo& info, const std::string& samples);

// Every slice of the source, read twice (the second pass must rewind and agree), joined in
// samples; "" or the first failure.
std::string readTwice(const TypedSource& source, std::string* samples);
