#pragma once

class Image;

// Records the panel's new size in device pixels, replaces the overlay buffer and sets the
// viewport.
void resizeView(int width, int height);

// Draws one frame into the current context: the chosen model textured with the volume and
// lit by the shading program, the help text and the reference image at the bottom-left.
void paintFrame();

// Fills the RGBA overlay of width x height pixels (bottom row first): the image's pixels,
// unscaled, at the bottom-left and opaque; transparent black elsewhere. One- and two-channel
// images show as grey.
void fillOverlay(unsigned char* overlay, int width, int height, const Image& image);
