#pragma once

// Generated models for the model import's tests and benchmark: no big file is committed.

#include <string>

// A closed, lumpy sphere about the origin written as a binary little-endian PLY: `segments`
// vertices around each of rings - 1 rings between the poles, 2 * segments * (rings - 1)
// triangles wound outward, its radius varied by up to 2 % in a fixed pattern, as a scan is.
// segments >= 3 and rings >= 2. Returns "" or why it could not be written.
std::string writeLumpySpherePly(const std::string& path, int segments, int rings, double radius);

// The triangle count of that sphere.
inline long long lumpySphereTriangles(int segments, int rings) {
    return 2LL * segments * (rings - 1);
}
