#pragma once

// The one rule by which a file's voxel axes become the volume's x, y, z. A file placed in a
// patient's frame is turned, by swapping and reversing axes only (never resampled), to the
// orientation closest to LAS+: x toward the patient's left, y anterior, z superior, the
// radiological display of DICOM workstations and the order dcm2niix stores. A file placed in
// the world's own frame takes the axes closest to the world's x, y, z. An array or a stack of
// pictures, placed nowhere, shows each slice's first row at the top, columns left to right and
// slices in stored order, as picture viewers show an image. The viewer's own files stay as
// they are.

#include "slicestream.h"
#include "typedsource.h"

#include <cstdint>
#include <string>

// Which file axis each of the volume's axes x, y, z is, and whether it runs backwards.
struct AxisMap {
    int from[3] = {0, 1, 2};
    bool reversed[3] = {false, false, false};
    bool identity() const;
};

// How the file's axes become the volume's, with the angle in degrees by which the file's axes
// miss the ones they become (0 unless the file is oblique). A World frame whose directions
// span no volume (a zero or NaN matrix) keeps the file's order, and says so in `degenerate`.
struct Orientation {
    AxisMap map;
    double obliqueDegrees = 0;
    bool degenerate = false;
};

// The rule applied to where the file's axes point.
Orientation orientAxes(const AxisDirections& axes);

// What was done and from what, as pack's closing line and info say it: "oriented LAS from the
// sform (x = -i, y = j, z = k)", "rows top-down, as pictures", "as stored".
[[nodiscard]] std::string describeOrientation(const VolumeInfo& info);

// Where each of the file's axes points, in words ("i: right to left, j: ..."), for info; ""
// when the file places its axes nowhere.
[[nodiscard]] std::string describeFileAxes(const AxisDirections& axes);

// The cube (of equal sides) turned by map: the volume's sample (x, y, z) is the cube's sample
// at the file position the map gives. The cube itself when the map is the identity. A map
// that keeps z works slice by slice; one that moves or reverses z holds the whole cube, read
// on the first call.
SliceSource orientCube(const SliceSource& cube, const AxisMap& map);
