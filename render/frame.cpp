#include <GL/glew.h>

#include "frame.h"

#include "bitmapfont.h"
#include "glcheck.h"
#include "ui_mainwindow.h"
#include "mesh.h"
#include "slice.h"
#include "state.h"
#include "volume.h"

#include <GL/glu.h>

#include <QOpenGLWidget>
#include <QSize>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
const float lightAmbient = 0.2f;
const float lightDiffuse = 1.0f;
const float lightSpecular = 0.0f;
const float lightExponent = 0.0f;
const float lightMin = 0.1f;

// (-0.09, 0.45, 1.0) scaled to unit length, once.
struct LightDirection {
    float x, y, z;
};
const LightDirection lightVec = [] {
    const float length = std::sqrt(1.2106f);
    return LightDirection{-0.09f / length, 0.45f / length, 1.0f / length};
}();

unsigned char truncatedByte(float sample) {
    // Truncated, not rounded: 0.999 gives 254.
    const float scaled = sample * 255.0f;
    if (!(scaled > 0.0f)) // negative values and NaN
        return 0;
    if (scaled >= 255.0f)
        return 255;
    return static_cast<unsigned char>(int(scaled));
}
} // namespace

void fillOverlay(unsigned char* overlay, int width, int height, const Image& image) {
    std::memset(overlay, 0, std::size_t(width) * std::size_t(height) * 4);
    if (image.channels <= 0)
        return;
    // A grey image repeats its first channel; colour images give their first three.
    const int step = image.channels >= 3 ? 1 : 0;
    const int rows = std::min(height, image.height);
    const int columns = std::min(width, image.width);
    for (int r = 0; r < rows; ++r) {
        const float* source = image.pixels.data() + std::size_t(image.width) * r * image.channels;
        unsigned char* target = overlay + std::size_t(width) * r * 4;
        for (int c = 0; c < columns; ++c, source += image.channels, target += 4) {
            target[0] = truncatedByte(source[0]);
            target[1] = truncatedByte(source[step]);
            target[2] = truncatedByte(source[2 * step]);
            target[3] = 255;
        }
    }
}

namespace {
// The panel's part that the reference picture covers, from its bottom-left corner.
QSize overlayExtent(OverlayExtent extent) {
    if (extent == OverlayExtent::Panel)
        return QSize(viewWidth, viewHeight);
    return QSize(std::max(0, std::min(viewWidth, referenceImage.width)),
                 std::max(0, std::min(viewHeight, referenceImage.height)));
}

std::size_t overlayBytes(QSize size) {
    return std::size_t(size.width()) * std::size_t(size.height()) * 4;
}
} // namespace

void resizeView(int width, int height) {
    viewWidth = width;
    viewHeight = height;
    // A collapsed panel has no aspect ratio; paintFrame draws nothing then.
    viewAspect = height > 0 ? float(width) / float(height) : 0.0f;
    overlayPixels = std::vector<unsigned char>(overlayBytes(overlayExtent(OverlayExtent::Picture)));
    glViewport(0, 0, width, height);
}

void updateTextFont() {
    // Text stays fontHeight logical pixels tall on any screen: in device pixels it follows the
    // panel's pixel ratio, which changes when the window moves to another screen.
    const int height = qRound(fontHeight * viewPanel->devicePixelRatioF());
    if (textFont && height == textHeight)
        return;
    delete textFont;
    textFont = new BitmapFont(L"Arial", height);
    textHeight = height;
}

void paintFrame(OverlayExtent extent) {
    // Nothing is drawn before the first volume, on a collapsed panel, or while the scene is
    // still being set up (a fatal notice during set-up runs the event loop).
    if (volumeTexture == 0 || viewWidth <= 0 || viewHeight <= 0 || !textFont)
        return;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, viewAspect, 0.1f, 1000.0);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -zoom);
    glRotatef(modelAngleX, 1, 0, 0);
    glRotatef(modelAngleY, 0, 1, 0);

    // The texture turns about the texture-space origin, a corner of the volume.
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glRotatef(textureAngleX, 1, 0, 0);
    glRotatef(textureAngleY, 0, 1, 0);
    glMatrixMode(GL_MODELVIEW);

    // The panel's framebuffer keeps depth and stencil in one buffer. Clearing both lets the
    // driver fill that buffer outright instead of keeping the stencil bits of every pixel
    // (llvmpipe: 0.4 ms instead of 2.9 ms at 1920 x 1080). The viewer uses no stencil.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_TEXTURE_3D);
    glBindTexture(GL_TEXTURE_3D, volumeTexture);

    glUseProgramObjectARB(shaderProgram);
    glUniform1f(lightAmbientLoc, lightAmbient);
    glUniform1f(lightDiffuseLoc, lightDiffuse);
    glUniform1f(lightSpecularLoc, lightSpecular);
    glUniform1f(lightExponentLoc, lightExponent);
    glUniform1f(lightMinLoc, lightMin);
    glUniform3f(lightVecLoc, lightVec.x, lightVec.y, lightVec.z);

    if (form->viewCubeRadio->isChecked()) {
        if (form->viewXyRadio->isChecked())
            drawSliceXY();
        else if (form->viewXzRadio->isChecked())
            drawSliceXZ();
        else if (form->viewYzRadio->isChecked())
            drawSliceYZ();
    } else {
        drawMesh();
    }

    glUseProgramObjectARB(0);
    glDisable(GL_TEXTURE_3D);

    updateTextFont();
    glColor3f(0, 0, 0);
    textFont->beginOrtho(viewWidth, viewHeight);
    textFont->print(0, float(1 * textHeight), "Left mouse button: rotate model");
    textFont->print(0, float(2 * textHeight), "Right mouse button: rotate texture");
    textFont->print(0, float(3 * textHeight), "Mouse wheel: zoom");
    textFont->endOrtho();

    // The reference picture, unscaled at the bottom-left. Outside it the overlay would be
    // transparent, which blending leaves unchanged, so only the picture's part is drawn. The
    // buffer grows only when that part does.
    glColor3f(1, 1, 1);
    const QSize covered = overlayExtent(extent);
    if (!covered.isEmpty()) {
        if (overlayPixels.size() != overlayBytes(covered))
            overlayPixels.resize(overlayBytes(covered));
        fillOverlay(overlayPixels.data(), covered.width(), covered.height(), referenceImage);
        glPixelZoom(1, 1);
        glWindowPos2i(0, 0);
        glDrawPixels(covered.width(), covered.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                     overlayPixels.data());
    }
    checkGlErrors("drawing a frame");
}
