#include <GL/glew.h>

bool startGlew() { // kept apart: GLEW and QOpenGLContext cannot share a translation unit
    return glewInit() == GLEW_OK;
}
