#include "glcontext.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTimer>

namespace {
std::string glCalls; // the panel's GL signals in order: i initialize, r resize, p paint

// Runs the event loop until done() holds or ms milliseconds have passed.
bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    for (int waited = 0; !done() && waited < ms; waited += 10) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}
// Lets pending paints happen, then counts the paints that follow the action.
long paintsAfter(const std::function<void()>& action) {
    const auto paints = [] { return std::count(glCalls.begin(), glCalls.end(), 'p'); };
    waitFor([] { return false; }, 150);
    const long before = paints();
    action();
    waitFor([&] { return paints() > before; }, 1000);
    waitFor([] { return false; }, 200); // room for a second, unwanted paint
    return paints() - before;
}
void mouse(QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(x, 50), QPointF(x, 50), button, held, Qt::NoModifier);
    QApplication::sendEvent(controller->glPanel, &event);
}

// The real window, built as main builds it but without the scene, so frames draw nothing.
struct Wiring : testing::Test {
    static void SetUpTestSuite() {
        qputenv("QT_SCALE_FACTOR", "2"); // so that device and logical pixels differ
        ensureApplication();
        static ThrowingFatalNotice notice; // a fatal error fails the test, not waiting for OK
        window = new QMainWindow;
        controller = new MainWindow;
        controller->setup(window);
        GLPanel* panel = controller->glPanel;
        QObject::connect(panel, &GLPanel::initialize, [] { glCalls += 'i'; });
        QObject::connect(panel, &GLPanel::resize, [](int, int) { glCalls += 'r'; });
        QObject::connect(panel, &GLPanel::paint, [] { glCalls += 'p'; });
        window->show();
        ASSERT_TRUE(waitFor([] { return glCalls.find('p') != std::string::npos; }));
    }
};
} // namespace

TEST_F(Wiring, InitializeComesFirstAndResizeReportsDevicePixels) {
    EXPECT_EQ(glCalls.substr(0, 2), "ir");
    EXPECT_EQ(std::count(glCalls.begin(), glCalls.end(), 'i'), 1);
    QWidget* panel = controller->glPanel; // GLPanel::resize is the signal
    for (const QSize& size : {QSize(700, 720), QSize(640, 660)}) {
        window->resize(size);
        const auto pixels = [&] { return panel->size() * panel->devicePixelRatio(); };
        waitFor([&] { return window->size() == size && QSize(viewWidth, viewHeight) == pixels(); });
        EXPECT_EQ(QSize(viewWidth, viewHeight), pixels());
    }
}

TEST_F(Wiring, MouseAndWheelReachTheirSlots) {
    const std::pair<Qt::MouseButton, float*> drags[] = {{Qt::LeftButton, &modelAngleY},
                                                        {Qt::RightButton, &textureAngleY}};
    for (const auto& [button, angle] : drags) {
        const float start = *angle;
        lastMouseValid = true;
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseButtonPress, 10, button, button); }), 1);
        EXPECT_FALSE(lastMouseValid);
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseMove, 50, Qt::NoButton, button); }), 1);
        EXPECT_TRUE(lastMouseValid);
        mouse(QEvent::MouseMove, 90, Qt::NoButton, button);
        EXPECT_FLOAT_EQ(*angle, start + 10);
        EXPECT_EQ(paintsAfter([&] { mouse(QEvent::MouseButtonRelease, 90, button, {}); }), 0);
    }
    // The second press of a double click arrives as a double-click event, not as a press.
    mouse(QEvent::MouseButtonDblClick, 90, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(lastMouseValid);
    mouse(QEvent::MouseButtonRelease, 90, Qt::LeftButton, {});

    zoom = 3.0f;
    for (const QPoint& turn : {QPoint(0, 120), QPoint(120, 0)}) { // any wheel zooms
        QWheelEvent wheel(QPointF(20, 20), QPointF(20, 20), QPoint(), turn, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        EXPECT_EQ(paintsAfter([&] { QApplication::sendEvent(controller->glPanel, &wheel); }), 1);
    }
    EXPECT_FLOAT_EQ(zoom, 1.0f);
}

TEST_F(Wiring, ControlsRepaintOnceAndUnconnectedSignalsDoNothing) {
    MainWindow* c = controller;
    for (QAbstractButton* radio :
         {c->viewCubeRadio, c->viewXzRadio, c->viewYzRadio, c->viewXyRadio, c->viewBunnyRadio})
        EXPECT_EQ(paintsAfter([&] { radio->click(); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->sliceSlider->setValue(70); }), 1);
    EXPECT_EQ(paintsAfter([&] { c->repaintSlot(), c->repaintSlot(), c->repaintSlot(); }), 1);

    const auto state = [] {
        return std::make_tuple(zoom, modelAngleX, modelAngleY, textureAngleX, textureAngleY,
                               lastMouseX, lastMouseY, lastMouseValid, viewWidth, viewHeight);
    };
    const auto before = state();
    // Null events: a receiver would crash on them, and none is expected.
    EXPECT_EQ(paintsAfter([&] {
                  emit c->glPanel->deinitialize();
                  emit c->glPanel->keyPress(nullptr);
                  emit c->glPanel->mouseDoubleClick(nullptr);
              }),
              0);
    EXPECT_EQ(state(), before);
}

TEST_F(Wiring, ChoosingAVolumeLoadsIt) {
    ScratchDir scratch;
    scratch.write("input/v.vol", volumeFile(2, "", std::vector<unsigned char>(24, 128)));
    controller->textureCombo->addItem("v");
    ASSERT_EQ(volumeTexture, 0u);
    GlContext other; // current when the signal comes: the slot must switch to the panel's
    EXPECT_EQ(paintsAfter([&] {
                  other.makeCurrent();
                  emit controller->textureCombo->activated(0);
              }),
              1);
    EXPECT_EQ(volumeSize, 2);
    controller->glPanel->makeCurrent();
    GLint width = 0;
    glBindTexture(GL_TEXTURE_3D, volumeTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 2); // a texture of the panel's context
}
