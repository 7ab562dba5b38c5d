#pragma once

// The synthesised sample: a picture of terrazzo drawn in code, and the solid texture synthesised
// from it. Both depend on nothing but their sizes: the same bytes on any machine and thread
// count.

#include <QImage>

#include <vector>

// Chips of white, rust, green, black and ochre stone set in a grey matrix, side x side pixels,
// tiling.
QImage terrazzoPicture(int side);

// The n^3 RGB samples (x fastest) synthesised from terrazzoPicture(pictureSide).
std::vector<unsigned char> synthesizedTerrazzo(int n, int pictureSide);
