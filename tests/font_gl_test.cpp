// The bitmap font: its lists, where text lands in a small framebuffer, and the GL state that
// printing and the ortho pair leave behind.
#include <GL/glew.h>

#include "bitmapfont.h"
// Follows glew.h, so Qt's GL header warns; only GLEW's functions are called here.
#include "glcontext.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <numeric>

const int width = 64, height = 32; // the colour and depth framebuffer drawn into

TEST(FontGl, ListsPlacementAndState) {
    ensureApplication(); // GlContext's surface needs the application's screen when built
    GlContext context;
    GLuint buffers[2], framebuffer;
    glGenRenderbuffers(2, buffers);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    const GLenum formats[] = {GL_RGBA8, GL_DEPTH_COMPONENT24};
    const GLenum attachments[] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
    for (int i = 0; i < 2; ++i) {
        glBindRenderbuffer(GL_RENDERBUFFER, buffers[i]);
        glRenderbufferStorage(GL_RENDERBUFFER, formats[i], width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachments[i], GL_RENDERBUFFER, buffers[i]);
    }
    glViewport(0, 0, width, height);
    BitmapFont font(L"Arial", 16);
    for (GLuint i = 0; i < 96; ++i)
        EXPECT_TRUE(glIsList(font.listBase + i)) << i;

    // Prints in black on white at (2, y); gives the dark pixels in rows [from, to) from the top.
    std::vector<int> rows(height);
    const auto dark = [&](float y, const char* text, int from = 0, int to = height) {
        glClearColor(1, 1, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor3f(0, 0, 0);
        font.beginOrtho(width, height);
        font.print(2, y, "%s", text);
        font.endOrtho();
        std::vector<unsigned char> pixels(width * height * 4);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        rows.assign(height, 0);
        for (int i = 0; i < width * height; ++i)
            rows[height - 1 - i / width] += pixels[i * 4] < 128;
        return std::accumulate(rows.begin() + from, rows.begin() + to, 0);
    };
    // "Hi" has no descender: it stands in the 16 rows above its baseline.
    const int total = dark(20, "Hi");
    EXPECT_GT(total, 20);
    EXPECT_EQ(std::accumulate(rows.begin() + 4, rows.begin() + 20, 0), total);
    EXPECT_GT(rows[19], 0);
    EXPECT_EQ(dark(20, ""), 0);
    EXPECT_EQ(dark(height + 20, "Hi"), 0);

    // Text shows over everything, here where every depth is nearer than the text's.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glClearDepth(0.0);
    glListBase(7);
    EXPECT_GT(dark(20, "Hi"), 20);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint value = 0;
    glGetIntegerv(GL_LIST_BASE, &value);
    EXPECT_EQ(value, 7);

    // The ortho pair puts the projection back and ends in model-view mode.
    glMatrixMode(GL_PROJECTION);
    glTranslatef(1, 2, 3);
    font.beginOrtho(width, height);
    font.endOrtho();
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_EQ(std::vector<GLfloat>(projection + 12, projection + 15),
              std::vector<GLfloat>({1, 2, 3}));
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
