#include "glcontext.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <QMouseEvent>
#include <qtestsupport_core.h>

namespace {
int paints = 0; // paint signals of the panel

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

TEST(Wiring, EachConnectedSignalReachesItsSlotAndNoOtherDoesAnything) {
    // The real window, built as main builds it but without the scene, so frames draw nothing.
    qputenv("QT_SCALE_FACTOR", "2"); // so that device and logical pixels differ
    ensureApplication();
    ThrowingFatalNotice notice; // a fatal error fails the test, not waiting for OK
    buildMainWindow();
    MainWindow* c = controller;
    QObject::connect(c->glPanel, &GLPanel::paint, [] { ++paints; });
    ASSERT_TRUE(QTest::qWaitFor([] { return paints > 0; }));

    QWidget* panel = c->glPanel; // GLPanel::resize is the signal
    ASSERT_EQ(panel->devicePixelRatio(), 2);
    const int before = viewWidth;
    window->resize(700, 720);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return viewWidth != before && QSize(viewWidth, viewHeight) == panel->size() * 2; }));

    modelAngleY = textureAngleY = 0.0f;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        lastMouseValid = true;
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
        EXPECT_EQ(paintsAfter([&] { QApplication::sendEvent(panel, &wheel); }), 1);
    }
    EXPECT_FLOAT_EQ(zoom, 1.0f);

    for (QAbstractButton* radio :
         {c->viewCubeRadio, c->viewXzRadio, c->viewYzRadio, c->viewXyRadio, c->viewBunnyRadio})
        EXPECT_EQ(paintsAfter([&] { radio->click(); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->sliceSlider->setValue(70); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->repaintSlot(), c->repaintSlot(), c->repaintSlot(); }), 1);

    const auto unconnected = [&] { // null events: a receiver would crash on them
        emit c->glPanel->deinitialize();
        emit c->glPanel->keyPress(nullptr);
        emit c->glPanel->mouseDoubleClick(nullptr);
    };
    EXPECT_EQ(paintsAfter(unconnected), 0);
    EXPECT_TRUE(lastMouseValid); // as the drags left it: no press slot ran

    ScratchDir scratch;
    writeFile("input/v.vol", volumeFile(2, "", std::vector<unsigned char>(24, 128)));
    c->textureCombo->addItem("v");
    GlContext other; // current when the signal comes: the slot must switch to the panel's
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
    EXPECT_EQ(width, 2); // the volume is a texture of the panel's context
}
