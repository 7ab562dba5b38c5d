#pragma once

// The pieces solid synthesis works on: a picture (an exemplar) and a cube of colour samples,
// both as floats from 0 to 255, and the square neighbourhoods of the one matched against those
// of the other. A solid wraps at every face, so its texture tiles; a picture does not.

#include <cstddef>
#include <vector>

constexpr int patchRadius = 3;
constexpr int patchSide = 2 * patchRadius + 1;
constexpr int patchValues = 3 * patchSide * patchSide;

// RGB pixels, x fastest, row 0 first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;
};

// An n^3 cube of RGB samples, x fastest, then y, then z (as the .vol stores them).
struct Solid {
    int n = 0;
    std::vector<float> rgb;
};

inline int wrapIndex(int i, int period) {
    const int m = i % period;
    return m < 0 ? m + period : m;
}

// The solid's axes that a slice normal to `normal` shows as a picture's columns (u) and rows
// (v): y and z across x, x and z across y, x and y across z.
void planeAxes(int normal, int* u, int* v);

// The neighbourhood of the slice normal to `normal` around centre, as picturePatch orders a
// picture's: pixel (du, dv) of it is the sample at centre + du along u and - dv along v (a
// picture's rows run down), every coordinate wrapped. out holds patchValues floats.
void solidNeighbourhood(const Solid& solid, int normal, const int centre[3], float* out);

// The picture's patch around (x, y), which must lie patchRadius inside it: rows first, then
// columns, then the three colours.
void picturePatch(const Picture& picture, int x, int y, float* out);

// The picture averaged over squares of factor x factor pixels (a partial square at the right
// or bottom edge dropped).
Picture shrinkPicture(const Picture& picture, int factor);

// Gives the count values, stride floats apart, the distribution of target (sorted, any
// length): the value of rank i becomes the target's of rank (i + 1/2) * target.size() / count.
// Ranks of equal values follow a fixed scrambled order of their positions, so the result
// depends on nothing but the values and their order in memory.
void matchHistogram(float* values, std::size_t count, std::size_t stride,
                    const std::vector<float>& target);
