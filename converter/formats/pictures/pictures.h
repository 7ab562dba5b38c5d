#pragma once

// Pictures and the viewer's RGB slices: one converted to the other.

#include <QImage>

#include <cstddef>

// Pixels of 1 to 4 channels of one byte (grey, grey and alpha, RGB, RGBA) as RGB; alpha is
// dropped. in and rgb may be the same buffer when channels is 3.
void expandToRgb(const unsigned char* in, int channels, std::size_t pixels, unsigned char* rgb);

// The picture of an N x N slice as the viewer shows it (top row y = N - 1), scaled to
// side x side by taking the nearest sample.
QImage slicePicture(const unsigned char* rgb, int n, int side);
