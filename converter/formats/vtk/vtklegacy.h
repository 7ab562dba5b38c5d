#pragma once

// VTK's legacy files (.vtk) of STRUCTURED_POINTS, read here line by line and nothing trusted
// before it is checked: the version line, a title, ASCII or BINARY (big-endian), DIMENSIONS,
// SPACING (or ASPECT_RATIO) and ORIGIN, POINT_DATA of every point, then one SCALARS of 1 to 4
// components (its LOOKUP_TABLE named and passed over) or COLOR_SCALARS (bytes in a binary
// file, 0 to 1 in an ASCII one, read as bytes). Keywords in any case, as VTK's reader takes
// them. The axes are VTK's x, y, z as stored; the spacing is SPACING's. Other datasets, cell
// data, bits and 64-bit integers are refused.

#include "inputformat.h"
#include "typedsource.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

// Whether the first bytes of a file begin VTK's "# vtk DataFile Version" line.
bool hasVtkMark(const std::string& start);

// Sets axes to VTK's world frame, the file's axes i, j, k along the columns of direction (a
// row-major 3 x 3 matrix, as VTK's image data holds it); from says what gives them.
void setVtkAxes(const double direction[9], const std::string& from, AxisDirections* axes);

// An ASCII value as the type holds it (both VTK readers): integers clamped to their range, NaN
// as 0.
template <typename T> T clampedSample(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return T(v);
    } else {
        if (std::isnan(v))
            return T(0);
        return T(std::clamp(v, double(std::numeric_limits<T>::min()),
                            double(std::numeric_limits<T>::max())));
    }
}

// Opens a legacy .vtk file as a typed source. Returns "" or the bare reason, as do its reads.
[[nodiscard]] std::string openVtkSource(const QString& path, TypedSource* source);

// Its entry in the table of formats.
InputFormat vtkLegacyInputFormat();
