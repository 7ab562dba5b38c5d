#pragma once

class Image;

// Records the panel's new size in device pixels, replaces the overlay buffer and sets the
// viewport.
void resizeView(int width, int height);

// How much of the panel the reference-picture overlay covers: the picture's part of it (the
// viewer's way), or the whole panel, transparent beyond the picture. Both give the same frame.
enum class OverlayExtent { Picture, Panel };

// Draws one frame into the current context: the chosen model textured with the volume and
// lit by the shading program, the help text and the reference image at the bottom-left.
void paintFrame(OverlayExtent extent = OverlayExtent::Picture);

// Makes textFont, or makes it again when the panel's device pixel ratio has changed, so that
// the help text is fontHeight logical pixels tall. Needs the panel's GL context current.
void updateTextFont();

// Fills the RGBA overlay of width x height pixels (bottom row first): the image's pixels,
// unscaled, at the bottom-left and opaque; transparent black elsewhere. One- and two-channel
// images show as grey.
void fillOverlay(unsigned char* overlay, int width, int height, const Image& image);
