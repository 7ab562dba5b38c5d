// Building GLSL programs: fatal failures after the driver's log, and the viewer's own shaders.
#include <GL/glew.h>

// Follows glew.h, so Qt's GL header warns; only GLEW's functions are called here.
#include "glcontext.h"
#include "shader.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace {
// Links a program from (kind, file) stages.
GLhandleARB link(const std::vector<std::pair<GLenum, std::string>>& stages) {
    ensureApplication(); // GlContext's surface needs the application's screen when built
    static GlContext* context = new GlContext;
    context->makeCurrent();
    const GLhandleARB program = glCreateProgramObjectARB();
    for (const auto& [kind, file] : stages) {
        const GLhandleARB shader = glCreateShaderObjectARB(kind);
        loadShaderSource(shader, file.c_str());
        compileShader(shader);
        glAttachObjectARB(program, shader);
    }
    linkProgram(program);
    return program;
}
} // namespace

TEST(ShaderGl, FailuresAreFatalAfterTheLog) {
    ScratchDir scratch;
    scratch.write("ok.vert", std::string("void main() { gl_Position = ftransform(); }"));
    scratch.write("bad.vert", std::string("void main() { gl_Position = ; }"));
    // Compiles, but the program lacks the definition of shade().
    scratch.write("undefined.frag", std::string("vec4 shade();\n"
                                                "void main() { gl_FragColor = shade(); }"));
    EXPECT_EQ(fatalMessageOf([] {
                  link({{GL_VERTEX_SHADER_ARB, "missing.vert"}});
              }),
              "file not found: missing.vert");
    const struct {
        std::vector<std::pair<GLenum, std::string>> stages;
        std::string message;
    } cases[] = {{{{GL_VERTEX_SHADER_ARB, "bad.vert"}}, "compile failed"},
                 {{{GL_VERTEX_SHADER_ARB, "ok.vert"}, {GL_FRAGMENT_SHADER_ARB, "undefined.frag"}},
                  "link failed"}};
    for (const auto& c : cases) {
        std::string message;
        const std::string output =
            captureStdout([&] { message = fatalMessageOf([&] { link(c.stages); }); });
        EXPECT_EQ(message, c.message);
        const std::size_t at = output.find(c.message + "\n");
        ASSERT_NE(at, std::string::npos) << output;
        EXPECT_LT(output.find_first_not_of("\n"), at) << "no log before the message: " << output;
    }
}

TEST(ShaderGl, ViewerShadersLinkWithTheLightingUniforms) {
    ThrowingFatalNotice notice; // a failure ends the test instead of opening a box
    GLhandleARB program = 0;
    captureStdout([&] {
        program = link({{GL_VERTEX_SHADER_ARB, sourceDir() + "/shaders/shading.vert"},
                        {GL_FRAGMENT_SHADER_ARB, sourceDir() + "/shaders/shading.frag"}});
    });
    for (const char* name :
         {"lightAmbient", "lightDiffuse", "lightSpecular", "lightExponent", "lightMin", "lightVec"})
        EXPECT_NE(glGetUniformLocation(program, name), -1) << name;
}
