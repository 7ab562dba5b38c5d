#pragma once

// Turning the model and the texture by dragging, and zooming with the wheel. Both change only
// the program-wide angles and zoom; the next frame rebuilds its matrices from them.

// One pointer move at (x, y) in panel pixels with the given buttons held.
void dragStep(int x, int y, bool leftHeld, bool rightHeld);

// One wheel turn of delta eighths of a degree; positive (away from the user) comes nearer.
void zoomStep(int delta);
