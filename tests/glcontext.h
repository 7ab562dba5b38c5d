#pragma once

#include <memory>

// One compatibility-profile GL context for a test suite, made current on construction, with
// GLEW started and the checked-GL-error helper switched on. Needs a display (Xvfb). Holds
// the Qt OpenGL objects privately, so tests can include GLEW without Qt's GL headers.
class GlContext {
public:
    GlContext();
    ~GlContext();
    void makeCurrent();

private:
    struct Objects;
    std::unique_ptr<Objects> objects_;
};
