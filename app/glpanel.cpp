#include "glpanel.h"

GLPanel::GLPanel(QWidget* parent) : QOpenGLWidget(parent) {}

GLPanel::~GLPanel() {
    // Receivers of deinitialize() may free GL objects, so the context must be current.
    makeCurrent();
    emit deinitialize();
}

void GLPanel::mousePressEvent(QMouseEvent* event) {
    emit mousePress(event);
}

void GLPanel::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseRelease(event);
}

void GLPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    emit mouseDoubleClick(event);
}

void GLPanel::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMove(event);
}

void GLPanel::wheelEvent(QWheelEvent* event) {
    emit wheel(event);
}

void GLPanel::keyPressEvent(QKeyEvent* event) {
    emit keyPress(event);
}

void GLPanel::initializeGL() {
    emit initialize();
}

void GLPanel::resizeGL(int, int) {
    // Qt passes the logical size; the framebuffer is the logical size times the device pixel
    // ratio, and that is what the viewport and the unscaled overlay must cover.
    const QSize pixels = size() * devicePixelRatio();
    emit resize(pixels.width(), pixels.height());
}

void GLPanel::paintGL() {
    makeCurrent();
    emit paint();
}
