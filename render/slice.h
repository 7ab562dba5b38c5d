#pragma once

// The cube cut open at an axis-aligned plane, so the cut face shows the volume's inside.

// The cut position for slider value v (0..100): -0.999 at 0, 0 at 50, 0.999 at 100.
float slicePosition(int sliderValue);

// The axis-aligned box from (x0, y0, z0) to (x1, y1, z1) with outward normals and texture
// coordinates (p + 1) / 2, as six quads. Changes only the current normal and texture
// coordinate.
void drawBox(float x0, float y0, float z0, float x1, float y1, float z1);

// The cube cut across z, y or x at the position that sliceSlider gives.
void drawSliceXY();
void drawSliceXZ();
void drawSliceYZ();
