#include "interaction.h"

#include "state.h"

namespace {
const double rotationRate = 0.25; // degrees per pixel of pointer motion
const double zoomRate = 0.01f;    // per unit of wheel delta (the float 0.01, widened)
const float nearestZoom = 1.0f;
const float farthestZoom = 10.0f;
} // namespace

void dragStep(int x, int y, bool leftHeld, bool rightHeld) {
    if (lastMouseValid) {
        const int dx = x - lastMouseX;
        const int dy = y - lastMouseY;
        // The left button wins when both are held.
        if (leftHeld) {
            modelAngleY = float(modelAngleY + dx * rotationRate);
            modelAngleX = float(modelAngleX + dy * rotationRate);
        } else if (rightHeld) {
            textureAngleY = float(textureAngleY + dx * rotationRate);
            textureAngleX = float(textureAngleX + dy * rotationRate);
        }
    } else {
        // The first move after a press only records where the drag starts.
        lastMouseValid = true;
    }
    lastMouseX = x;
    lastMouseY = y;
}

void zoomStep(int delta) {
    float z = float(zoom - delta * zoomRate);
    if (z < nearestZoom)
        z = nearestZoom;
    else if (z > farthestZoom)
        z = farthestZoom;
    zoom = z;
}
