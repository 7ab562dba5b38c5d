#include <GL/glew.h>

// Starts GLEW in the current context with the viewer's pixel-store settings.
bool startGlew() {
    glewExperimental = GL_FALSE;
    if (glewInit() != GLEW_OK)
        return false;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    return true;
}
