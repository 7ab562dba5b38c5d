#pragma once

// The voxel spacing a FITS cube's world coordinates give: the length of each column of its
// pixel-to-world matrix (CDELTi times PCi_j, or CDi_j), in the units of its world axes
// (CUNITi, degrees for a celestial axis that names none). Axes of units that cannot be
// compared (angles and a frequency) give no spacing; the reason is the spacing's note.

#include "typedsource.h"

#include <fitsio.h>

// Sets info's spacing, the axes along which it is known, its unit and note from the header of
// the current HDU, whose first three axes are the cube's.
void readWcsSpacing(fitsfile* file, int naxis, VolumeInfo* info);
