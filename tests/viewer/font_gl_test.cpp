#include <GL/glew.h>
#include "bitmapfont.h"
#include "glcontext.h"
#include "testsupport.h"

TEST(FontGlTest, TextStandsOnItsBaselineOverEverythingAndPutsTheStateBack) {
    const int width = 64, height = 32; // the colour and depth framebuffer drawn into
    GlContext context;
    GLuint framebuffer, buffers[2];
    glCreateFramebuffers(1, &framebuffer);
    glCreateRenderbuffers(2, buffers);
    glNamedRenderbufferStorage(buffers[0], GL_RGBA8, width, height);
    glNamedRenderbufferStorage(buffers[1], GL_DEPTH_COMPONENT24, width, height);
    glNamedFramebufferRenderbuffer(framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
    glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    BitmapFont font(L"Arial", 16);
    EXPECT_TRUE(glIsList(font.listBase) && glIsList(font.listBase + 95));
    // State to see past or put back: depths nearer than the text's, a list base, a projection.
    glEnable(GL_DEPTH_TEST);
    glClearDepth(0.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); // black; text is drawn in white
    glListBase(7);
    glMatrixMode(GL_PROJECTION);
    glTranslatef(1, 2, 3);
    font.beginOrtho(width, height);
    font.print(40, 20, "%s", ""); // right of "Hi"
    font.print(2, 20, "Hi");      // no descender: only in the 16 rows above the baseline
    font.endOrtho();
    std::vector<unsigned char> pixels(width * height);
    glReadPixels(0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, pixels.data());
    int onBaseline = 0, stray = 0;
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = height - 1 - i / width; // y from the top
        onBaseline += pixels[i] && y == 19;
        stray += pixels[i] && (x >= 40 || y < 4 || y >= 20);
    }
    EXPECT_GE(onBaseline, 3); // each stroke stands on the baseline
    EXPECT_EQ(stray, 0);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat base = 0, mode = 0, projection[16];
    glGetFloatv(GL_LIST_BASE, &base);
    glGetFloatv(GL_MATRIX_MODE, &mode);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_EQ(base, 7);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(projection[14], 3);
}
