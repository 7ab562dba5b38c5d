#include <GL/glew.h>

#include "shader.h"

#include "fatalerror.h"
#include "files.h"

#include <cstdio>
#include <vector>

void loadShaderSource(unsigned int shader, const char* path) {
    FileHandle handle = openFile(path, "rb");
    std::FILE* file = handle.get();
    if (!file)
        fatalError("file not found: %s", path);
    const long size = remainingBytes(file);
    std::vector<char> text(size > 0 ? std::size_t(size) + 1 : 1);
    // A short read is not an error: the source is what could be read.
    const GLint length = GLint(std::fread(text.data(), 1, text.size() - 1, file));
    text[std::size_t(length)] = '\0';
    handle.reset();
    const GLcharARB* source = text.data();
    glShaderSourceARB(shader, 1, &source, &length);
}

namespace {
// Prints the object's info log (an empty log gives an empty line) and returns the status.
GLint reportStatus(GLhandleARB object, GLenum statusQuery) {
    GLint status = 0;
    glGetObjectParameterivARB(object, statusQuery, &status);
    GLint length = 0;
    glGetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    std::vector<GLcharARB> log(std::size_t(length > 0 ? length : 0) + 1, '\0');
    glGetInfoLogARB(object, length, nullptr, log.data());
    std::printf("%s\n", log.data());
    return status;
}
} // namespace

void compileShader(unsigned int shader) {
    glCompileShaderARB(shader);
    if (!reportStatus(shader, GL_OBJECT_COMPILE_STATUS_ARB))
        fatalError("compile failed");
}

void linkProgram(unsigned int program) {
    glLinkProgramARB(program);
    if (!reportStatus(program, GL_OBJECT_LINK_STATUS_ARB))
        fatalError("link failed");
}
