#include <GL/glew.h>

#include "slice.h"

#include "ui_mainwindow.h"
#include "state.h"

namespace {
const float lowBound = -0.999f;
const float highBound = 0.999f;

void corner(double x, double y, double z) {
    glTexCoord3f(float((x + 1) * 0.5), float((y + 1) * 0.5), float((z + 1) * 0.5));
    glVertex3f(float(x), float(y), float(z));
}

float currentSlice() {
    return slicePosition(form->sliceSlider->value());
}
} // namespace

float slicePosition(int sliderValue) {
    const float q = float(sliderValue / 100.0);
    return float(q * 1.998 - 0.999);
}

void drawBox(float x0, float y0, float z0, float x1, float y1, float z1) {
    glBegin(GL_QUADS);
    glNormal3f(0, 0, -1);
    corner(x0, y0, z0), corner(x0, y1, z0), corner(x1, y1, z0), corner(x1, y0, z0);
    glNormal3f(1, 0, 0);
    corner(x1, y0, z0), corner(x1, y1, z0), corner(x1, y1, z1), corner(x1, y0, z1);
    glNormal3f(0, 0, 1);
    corner(x1, y0, z1), corner(x1, y1, z1), corner(x0, y1, z1), corner(x0, y0, z1);
    glNormal3f(-1, 0, 0);
    corner(x0, y0, z1), corner(x0, y1, z1), corner(x0, y1, z0), corner(x0, y0, z0);
    glNormal3f(0, 1, 0);
    corner(x0, y1, z0), corner(x0, y1, z1), corner(x1, y1, z1), corner(x1, y1, z0);
    glNormal3f(0, -1, 0);
    corner(x0, y0, z1), corner(x0, y0, z0), corner(x1, y0, z0), corner(x1, y0, z1);
    glEnd();
}

void drawSliceXY() {
    drawBox(lowBound, lowBound, lowBound, highBound, highBound, currentSlice());
}

void drawSliceXZ() {
    drawBox(lowBound, lowBound, lowBound, highBound, currentSlice(), highBound);
}

void drawSliceYZ() {
    drawBox(lowBound, lowBound, lowBound, currentSlice(), highBound, highBound);
}
