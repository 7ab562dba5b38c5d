#pragma once

#include <QOpenGLWidget>

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

// The OpenGL drawing surface. It keeps no state and draws nothing itself: every GL callback
// and input event becomes a signal, and the controller does the work in its slots.
//
// QOpenGLWidget renders into its own framebuffer object and makes the context current (with
// that framebuffer bound) before initializeGL, resizeGL and paintGL, so receivers of
// initialize(), resize() and paint() can issue GL calls directly.
class GLPanel : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit GLPanel(QWidget* parent);
    ~GLPanel() override;

signals:
    void paint();
    // Carries the size in device pixels, the size of the framebuffer being drawn. Note that
    // this signal hides QWidget::resize(int, int): resize the widget through a QWidget*.
    void resize(int width, int height);
    void initialize();
    void deinitialize();
    void mouseMove(QMouseEvent* event);
    void mousePress(QMouseEvent* event);
    void mouseRelease(QMouseEvent* event);
    void mouseDoubleClick(QMouseEvent* event);
    void keyPress(QKeyEvent* event);
    void wheel(QWheelEvent* event);

protected:
    // The handlers only forward: they neither call the base handler nor change whether the
    // event is accepted, so input over the panel never reaches the surrounding widgets.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
};
