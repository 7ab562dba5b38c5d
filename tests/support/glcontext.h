#pragma once

#include <memory>

// A compatibility-profile GL context, current once built, with GLEW started and GL error
// checking on. Needs a display (Xvfb). Keeps Qt's GL headers out of the tests that use GLEW.
class GlContext {
public:
    GlContext();
    ~GlContext();
    void makeCurrent();

private:
    struct Objects;
    std::unique_ptr<Objects> objects_;
};
