#include <GL/glew.h>

#include "glcontext.h"
#include "shader.h"
#include "testsupport.h"

TEST(ShaderGlTest, FailuresAreFatalAfterTheDriversLog) {
    GlContext context;
    ScratchDir scratch;
    writeFile("good.vert", "void main() { gl_Position = ftransform(); }");
    writeFile("bad.vert", "void main() { gl_Position = ; }");
    // Compiles, but the program lacks the definition of shade().
    writeFile("bad.frag", "vec4 shade();\nvoid main() { gl_FragColor = shade(); }");
    const std::tuple<std::vector<std::string>, std::string, bool> cases[] = {
        {{"missing.vert"}, "file not found: missing.vert", false},
        {{"bad.vert"}, "compile failed", true},
        {{"good.vert", "bad.frag"}, "link failed", true}};
    for (const auto& [files, expected, logFirst] : cases) {
        std::string message;
        const auto& shaders = files; // C++17 lambdas cannot capture a structured binding
        // Each file read, compiled and attached (vertex shaders end in ".vert"), then linked.
        const auto link = [&] {
            const GLhandleARB program = glCreateProgramObjectARB();
            for (const std::string& file : shaders) {
                const GLhandleARB shader = glCreateShaderObjectARB(
                    file.find(".vert") != std::string::npos ? GL_VERTEX_SHADER_ARB
                                                            : GL_FRAGMENT_SHADER_ARB);
                loadShaderSource(shader, file.c_str());
                compileShader(shader);
                glAttachObjectARB(program, shader);
            }
            linkProgram(program);
        };
        const std::string output = captureStdout([&] { message = fatalMessageOf(link); });
        EXPECT_EQ(message, expected);
        const std::size_t at = output.find(expected + "\n");
        ASSERT_NE(at, std::string::npos) << output;
        EXPECT_EQ(output.find_first_not_of("\n") < at, logFirst) << output;
    }
}
