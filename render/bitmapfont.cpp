#include <GL/glew.h>

#include "bitmapfont.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
const int firstCode = 32;
const int glyphCount = 96;

// Compiles one glyph list: the glyph as a glBitmap whose origin sits on the baseline,
// advancing the raster position by the glyph's advance width.
void compileGlyph(GLuint list, const QFont& font, const QFontMetrics& metrics, QChar c) {
    const int advance = metrics.horizontalAdvance(c);
    // Render with a margin around Qt's bounding box, then crop to the pixels actually set.
    const QRect box = metrics.boundingRect(c).adjusted(-2, -2, 2, 2);
    QImage image(box.size().expandedTo(QSize(1, 1)), QImage::Format_Grayscale8);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(-box.left(), -box.top(), QString(c));
    }
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] >= 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    glNewList(list, GL_COMPILE);
    if (right < 0) {
        // An empty glyph (the space) only advances; some drivers skip a null bitmap.
        const GLubyte none = 0;
        glBitmap(0, 0, 0, 0, GLfloat(advance), 0, &none);
    } else {
        const int width = right - left + 1;
        const int height = bottom - top + 1;
        const int rowBytes = (width + 7) / 8;
        // glBitmap takes rows bottom first, most significant bit leftmost.
        std::vector<GLubyte> bits(std::size_t(rowBytes) * height, 0);
        for (int y = 0; y < height; ++y) {
            const uchar* row = image.constScanLine(bottom - y);
            for (int x = 0; x < width; ++x)
                if (row[left + x] >= 128)
                    bits[std::size_t(y) * rowBytes + x / 8] |= GLubyte(0x80 >> (x % 8));
        }
        // Pixel row -1 (in Qt's y-down glyph coordinates) is the first row above the baseline.
        const int xOrigin = -(box.left() + left);
        const int yOrigin = box.top() + bottom + 1;
        glBitmap(width, height, GLfloat(xOrigin), GLfloat(yOrigin), GLfloat(advance), 0,
                 bits.data());
    }
    glEndList();
}
} // namespace

BitmapFont::BitmapFont(const std::wstring& face, int height) {
    listBase = glGenLists(glyphCount);
    QFont font(QString::fromStdWString(face));
    font.setPixelSize(height); // the character height, without internal leading
    font.setWeight(QFont::Bold);
    // One-colour glyphs from the outlines, the way bitmap font lists have always looked.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::NoAntialias));
    const QFontMetrics metrics(font);
    // The lists capture the unpack state at compile time: make it the tight default.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    for (int i = 0; i < glyphCount; ++i)
        compileGlyph(listBase + GLuint(i), font, metrics, QChar(firstCode + i));
    glPopClientAttrib();
}

BitmapFont::~BitmapFont() {
    glDeleteLists(listBase, glyphCount);
}

void BitmapFont::beginOrtho(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPushMatrix();
    glLoadIdentity();
}

void BitmapFont::print(float x, float y, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    glRasterPos2f(x, y);
    // The list base is put back by hand: Mesa 22.3 fails to restore it from a GL_LIST_BIT
    // push when a GL_DEPTH_BUFFER_BIT push shares or follows it and the base changes after.
    GLint savedListBase = 0;
    glGetIntegerv(GL_LIST_BASE, &savedListBase);
    glPushAttrib(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glListBase(listBase - firstCode);
    glCallLists(GLsizei(std::strlen(text)), GL_UNSIGNED_BYTE, text);
    glListBase(GLuint(savedListBase));
    glPopAttrib();
}

void BitmapFont::endOrtho() {
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
