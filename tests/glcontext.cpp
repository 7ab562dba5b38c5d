#include "glcontext.h"

#include "glcheck.h"
#include "testsupport.h"

#include <stdexcept>

// In its own file: GLEW and QOpenGLContext cannot share a translation unit.
bool startGlew();

namespace {
QSurfaceFormat compatibilityFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    return format;
}
} // namespace

GlContext::GlContext() {
    ensureApplication();
    surface_.setFormat(compatibilityFormat());
    surface_.create();
    context_.setFormat(compatibilityFormat());
    if (!context_.create() || !context_.makeCurrent(&surface_))
        throw std::runtime_error("no OpenGL context: is a display (Xvfb) available?");
    if (!startGlew())
        throw std::runtime_error("glewInit failed");
    setGlErrorChecking(true);
}

GlContext::~GlContext() {
    setGlErrorChecking(false);
    context_.doneCurrent();
}

void GlContext::makeCurrent() {
    context_.makeCurrent(&surface_);
}
