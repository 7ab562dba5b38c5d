#pragma once

// A picture as synth takes an exemplar: RGB samples, rows top-down.

#include "solid.h"

#include <QImage>

// image's pixels as RGB (alpha dropped, grey spread to three channels).
Picture exemplarPicture(const QImage& image);
