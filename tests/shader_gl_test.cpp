// Building GLSL programs: fatal failures after the driver's log, and the viewer's own shaders.
#include <GL/glew.h>
#include "glcontext.h"
#include "shader.h"
#include "testsupport.h"

// Links a program from shader files: vertex shaders end in ".vert", the others are fragments.
static GLhandleARB link(const std::vector<std::string>& files) {
    ensureApplication(); // GlContext's surface needs the application's screen when built
    static GlContext* context = new GlContext;
    context->makeCurrent();
    const GLhandleARB program = glCreateProgramObjectARB();
    for (const std::string& file : files) {
        const GLhandleARB shader = glCreateShaderObjectARB(file.find(".vert") != std::string::npos
                                                               ? GL_VERTEX_SHADER_ARB
                                                               : GL_FRAGMENT_SHADER_ARB);
        loadShaderSource(shader, file.c_str());
        compileShader(shader);
        glAttachObjectARB(program, shader);
    }
    linkProgram(program);
    return program;
}

TEST(ShaderGl, FailuresAndTheViewerShaders) {
    ScratchDir scratch;
    const std::string shaders = sourceDir() + "/shaders/shading.";
    writeFile("bad.vert", "void main() { gl_Position = ; }");
    // Compiles, but the program lacks the definition of shade().
    writeFile("bad.frag", "vec4 shade();\nvoid main() { gl_FragColor = shade(); }");
    const std::tuple<std::vector<std::string>, std::string, bool> cases[] = {
        {{"missing.vert"}, "file not found: missing.vert", false},
        {{"bad.vert"}, "compile failed", true},
        {{shaders + "vert", "bad.frag"}, "link failed", true}};
    for (const auto& [files, expected, logFirst] : cases) {
        std::string message;
        const std::string output =
            captureStdout([&] { message = fatalMessageOf([&] { link(files); }); });
        EXPECT_EQ(message, expected);
        const std::size_t at = output.find(expected + "\n");
        ASSERT_NE(at, std::string::npos) << output;
        EXPECT_EQ(output.find_first_not_of("\n") < at, logFirst) << output;
    }
    ThrowingFatalNotice notice; // a failure ends the test instead of opening a box
    GLhandleARB program = 0;
    captureStdout([&] { program = link({shaders + "vert", shaders + "frag"}); });
    for (const char* name :
         {"lightAmbient", "lightDiffuse", "lightSpecular", "lightExponent", "lightMin", "lightVec"})
        EXPECT_NE(glGetUniformLocation(program, name), -1) << name;
}
