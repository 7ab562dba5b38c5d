#include "glcontext.h"

#include "glcheck.h"
#include "testsupport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <stdexcept>

// In its own file: GLEW and QOpenGLContext cannot share a translation unit.
bool startGlew();

struct GlContext::Objects {
    QOffscreenSurface surface;
    QOpenGLContext context;
};

GlContext::GlContext() {
    ensureApplication();
    objects_ = std::make_unique<Objects>();
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    objects_->surface.setFormat(format);
    objects_->surface.create();
    objects_->context.setFormat(format);
    if (!objects_->context.create() || !objects_->context.makeCurrent(&objects_->surface))
        throw std::runtime_error("no OpenGL context: is a display (Xvfb) available?");
    if (!startGlew())
        throw std::runtime_error("glewInit failed");
    setGlErrorChecking(true);
}

GlContext::~GlContext() {
    setGlErrorChecking(false);
    objects_->context.doneCurrent();
}

void GlContext::makeCurrent() {
    objects_->context.makeCurrent(&objects_->surface);
}
