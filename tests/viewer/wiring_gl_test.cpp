#include "glcontext.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <QMouseEvent>
#include <qtestsupport_core.h>

namespace {
int paints = 0; // paint signals of the panel

// The real window, built once; no scene until a test sets one up, so frames draw nothing.
MainWindow* viewer() {
    static MainWindow* built = [] {
        qputenv("QT_SCALE_FACTOR", "2"); // so that device and logical pixels differ
        ensureApplication();
        buildMainWindow();
        QObject::connect(controller->glPanel, &GLPanel::paint, [] { ++paints; });
        return controller;
    }();
    EXPECT_TRUE(QTest::qWaitFor([] { return paints > 0; }));
    return built;
}

// Lets pending paints happen, then counts the paints that follow the action.
int paintsAfter(const std::function<void()>& action) {
    QTest::qWait(150);
    const int before = paints;
    action();
    (void)QTest::qWaitFor([&] { return paints > before; }, 1000);
    QTest::qWait(200); // room for a second, unwanted paint
    return paints - before;
}

void mouse(QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(x, 50), QPointF(x, 50), button, held, Qt::NoModifier);
    QApplication::sendEvent(controller->glPanel, &event);
}
} // namespace

TEST(WiringGlTest, ResizesReachTheViewInDevicePixels) {
    QWidget* panel = viewer()->glPanel; // GLPanel::resize is the signal
    ASSERT_EQ(panel->devicePixelRatio(), 2);
    const int before = viewWidth;
    window->resize(700, 720);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return viewWidth != before && QSize(viewWidth, viewHeight) == panel->size() * 2; }));
}

// Both buttons turn by 0.25 degree per logical pixel; a release asks for no frame.
TEST(WiringGlTest, DragsAndTheWheelTurnAndZoomWithOneFrameEach) {
    viewer();
    ThrowingFatalNotice notice;
    modelAngleY = textureAngleY = 0.0f;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseButtonPress, 10, button, button); }), 1);
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseMove, 50, Qt::NoButton, button); }), 1);
        mouse(QEvent::MouseMove, 90, Qt::NoButton, button);
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseButtonRelease, 90, button, {}); }), 0);
    }
    EXPECT_EQ(std::make_pair(modelAngleY, textureAngleY), std::make_pair(10.0f, 10.0f));
    zoom = 3.0f;
    for (const QPoint& turn : {QPoint(0, 120), QPoint(120, 0)}) { // any wheel zooms
        QWheelEvent wheel(QPointF(20, 20), QPointF(20, 20), QPoint(), turn, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        EXPECT_EQ(paintsAfter([&] { QApplication::sendEvent(controller->glPanel, &wheel); }), 1);
    }
    EXPECT_FLOAT_EQ(zoom, 1.0f);
}

TEST(WiringGlTest, EachControlAsksForOneFrame) {
    MainWindow* c = viewer();
    for (QAbstractButton* radio :
         {c->viewCubeRadio, c->viewXzRadio, c->viewYzRadio, c->viewXyRadio, c->viewBunnyRadio})
        EXPECT_EQ(paintsAfter([&] { radio->click(); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->sliceSlider->setValue(70); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->repaintSlot(), c->repaintSlot(), c->repaintSlot(); }), 1);
}

// The combo box's signal comes outside the panel's callbacks, maybe with another context
// current: the volume must still land in the panel's context.
TEST(WiringGlTest, ChoosingAVolumeLoadsItIntoThePanelsContext) {
    MainWindow* c = viewer();
    ThrowingFatalNotice notice;
    ScratchDir scratch;
    writeFile("input/v.vol", volumeFile(2, "", std::vector<unsigned char>(24, 128)));
    c->textureCombo->addItem("v");
    GlContext other;
    const auto choose = [&] {
        other.makeCurrent();
        emit c->textureCombo->activated(0);
    };
    EXPECT_EQ(paintsAfter(choose), 1);
    c->glPanel->makeCurrent();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST)); // the initialize signal reached its slot
    GLint width = 0;
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 2);
}

// The help text is 16 logical pixels a line: at ratio 2 its three lines fill 96 device rows.
TEST(WiringGlTest, HelpTextKeepsItsLogicalSize) {
    MainWindow* c = viewer();
    ThrowingFatalNotice notice;
    ScratchDir scratch;
    writeFile("input/v.vol", volumeFile(2, "", std::vector<unsigned char>(24, 128)));
    copyViewerFiles();
    captureStdout([] { initScene(); });
    zoom = 3.0f; // the model as at start, clear of the text
    modelAngleX = modelAngleY = 0.0f;
    const QImage image = c->glPanel->grabFramebuffer();
    int lowest = -1; // the lowest device row with text in it
    for (int y = 0; y < 140; ++y)
        for (int x = 0; x < 200; ++x)
            if (qGray(image.pixel(x, y)) < 100)
                lowest = y;
    EXPECT_EQ(textHeight, 32);
    EXPECT_TRUE(lowest > 80 && lowest < 110) << lowest; // the third line's baseline is at 96
}
