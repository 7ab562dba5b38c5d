#include <GL/glew.h>

#include "glcheck.h"

#include "fatalerror.h"

namespace {
bool checking = false;
}

void setGlErrorChecking(bool enabled) {
    checking = enabled;
}

void checkGlErrors(const char* where) {
    if (!checking)
        return;
    GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        fatalError("gl error 0x%04x after %s", error, where);
}
