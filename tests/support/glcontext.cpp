#include "glcontext.h"

#include "glcheck.h"
#include "testsupport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

bool startGlew(); // in testsupport.cpp

struct GlContext::Objects {
    QOffscreenSurface surface;
    QOpenGLContext context;
};

GlContext::GlContext() {
    ensureApplication(); // before the surface, which needs the application's screen
    objects_ = std::make_unique<Objects>();
    objects_->surface.create();
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    objects_->context.setFormat(format);
    if (!objects_->context.create() || !objects_->context.makeCurrent(&objects_->surface) ||
        !startGlew())
        throw std::runtime_error("no OpenGL context with GLEW: is a display (Xvfb) available?");
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // the viewer's pixel-store settings
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    setGlErrorChecking(true);
}

GlContext::~GlContext() {
    setGlErrorChecking(false); // the context itself is released by its destructor
}

void GlContext::makeCurrent() {
    objects_->context.makeCurrent(&objects_->surface);
}
