#pragma once

#include <QOffscreenSurface>
#include <QOpenGLContext>

// One compatibility-profile GL context for a test suite, made current on construction, with
// GLEW started and the checked-GL-error helper switched on. Needs a display (Xvfb).
class GlContext {
public:
    GlContext();
    ~GlContext();
    void makeCurrent();

private:
    QOffscreenSurface surface_;
    QOpenGLContext context_;
};
