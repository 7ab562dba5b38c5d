#include <GL/glew.h>

#include "frame.h"
#include "glcheck.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "testruns.h"
#include "volume.h"

#include <QImage>
#include <qtestsupport_core.h>

namespace {
const QRgb white = qRgb(255, 255, 255);

// Sets up the sample data, shaders and window in a scratch folder once, as main does.
bool startViewer() {
    static const bool started = [] {
        ensureApplication();
        static ScratchDir scratch; // the working directory for the rest of the run
        if (runTool({"samples", "input"}).status != 0)
            return false;
        copyViewerFiles();
        setFatalNotice([](const std::string&) { std::abort(); }); // never wait on a box
        setGlErrorChecking(true);
        buildMainWindow();
        initScene();
        return true;
    }();
    return started;
}

QImage frame() {
    return controller->glPanel->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

void chooseVolume(const char* name) {
    controller->textureCombo->setCurrentText(name);
    controller->loadTexturesSlot();
}

// The frame's central 448x384 pixels (the model alone) against tests/baselines/NAME.png, rewritten
// when TESSARY_UPDATE_BASELINES=1; one unit a channel is let through for other Mesa builds. A
// frame that differs is kept as NAME-actual.png in the build's tests folder.
void expectBaseline(const QImage& image, const QString& name) {
    const QImage actual = image.copy(image.width() / 2 - 224, image.height() / 2 - 192, 448, 384)
                              .convertToFormat(QImage::Format_RGB888);
    const QString path = QString::fromStdString(sourceDir()) + "/tests/baselines/" + name + ".png";
    if (qEnvironmentVariable("TESSARY_UPDATE_BASELINES") == "1") {
        EXPECT_TRUE(actual.save(path)) << path.toStdString();
        return;
    }
    const QImage expected = QImage(path).convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(expected.size(), actual.size()) << path.toStdString();
    int differing = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width() * 3; ++x) // red, green and blue bytes
            differing += std::abs(actual.constScanLine(y)[x] - expected.constScanLine(y)[x]) > 1;
    if (differing == 0)
        return;
    const QString kept =
        qEnvironmentVariable("TESSARY_BUILD_DIR") + "/tests/" + name + "-actual.png";
    actual.save(kept);
    ADD_FAILURE() << differing << " bytes differ from " << path.toStdString() << "; see "
                  << kept.toStdString();
}

// Each test starts from the viewer as main leaves it; TearDown puts that back however the test
// ended, so that a failed ASSERT cannot leave the next test on another volume or a small panel.
class FrameGlTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startViewer()); }
    void TearDown() override {
        if (!controller)
            return;
        QWidget* panel = controller->glPanel;
        panel->setMinimumSize(0, 0);
        panel->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        (void)QTest::qWaitFor([] { return viewWidth != 100 || viewHeight != 90; });
        modelAngleX = modelAngleY = textureAngleX = textureAngleY = 0;
        controller->sliceSlider->setValue(50);
        controller->viewXyRadio->setChecked(true);
        controller->viewBunnyRadio->setChecked(true);
        if (controller->textureCombo->currentText() != "axes")
            chooseVolume("axes");
    }
};

std::vector<unsigned char> paintedPixels(OverlayExtent extent) {
    viewPanel->makeCurrent();
    paintFrame(extent);
    std::vector<unsigned char> pixels(std::size_t(viewWidth) * viewHeight * 4);
    glReadPixels(0, 0, viewWidth, viewHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}
} // namespace

TEST_F(FrameGlTest, ShowsTheModelTheHelpTextAndThePictureAndNothingWithoutAVolume) {
    const QImage image = frame();
    const int w = image.width(), h = image.height();
    EXPECT_TRUE(image.pixel(0, 0) == white && image.pixel(w - 1, 0) == white &&
                image.pixel(w - 1, h - 1) == white && image.pixel(w / 2, h / 2) != white);
    // The reference image, unscaled and upright, at the bottom-left corner.
    const QImage reference = QImage("input/axes.png").convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.copy(0, h - reference.height(), reference.width(), reference.height()),
              reference);
    // Three lines of help text at the top-left.
    int text = 0;
    for (int y = 0; y < 3 * fontHeight + 4; ++y)
        for (int x = 0; x < 300; ++x)
            text += qGray(image.pixel(x, y)) < 100;
    EXPECT_GT(text, 300);
    // Without a volume texture a paint draws nothing: the turned model does not show.
    const unsigned int texture = std::exchange(volumeTexture, 0u);
    const ScopeExit restore{[&] { volumeTexture = texture; }};
    modelAngleY = 45;
    EXPECT_EQ(frame(), image);
}

// No wood texel is light in all channels, so no lit one turns white like the background.
TEST_F(FrameGlTest, TurningTheTextureRecoloursTheSameSilhouette) {
    chooseVolume("wood");
    const QImage before = frame();
    textureAngleY = 30;
    const QImage after = frame();
    EXPECT_NE(before, after);
    EXPECT_EQ(before.createMaskFromColor(white), after.createMaskFromColor(white));
}

TEST_F(FrameGlTest, TheCutFaceShowsTheVolumeAtTheSlidersDepth) {
    controller->viewCubeRadio->click();
    // Each plane with the model turned so that its cut face looks at the viewer, the channel
    // that the axes volume varies along the cut direction, and another.
    const std::tuple<QRadioButton*, float, float, int (*)(QRgb), int (*)(QRgb)> planes[] = {
        {controller->viewXyRadio, 0, 0, qBlue, qRed},
        {controller->viewXzRadio, 90, 0, qGreen, qBlue},
        {controller->viewYzRadio, 0, -90, qRed, qGreen}};
    for (const auto& [radio, angleX, angleY, cut, other] : planes) {
        radio->click();
        modelAngleX = angleX;
        modelAngleY = angleY;
        std::vector<QRgb> centre; // at slider 0, 50, 100
        for (int value : {0, 50, 100}) {
            controller->sliceSlider->setValue(value);
            const QImage image = frame();
            centre.push_back(image.pixel(image.width() / 2, image.height() / 2));
            if (radio == controller->viewXyRadio && value == 50)
                expectBaseline(image, "cube_xy_50");
        }
        // Lighting scales all channels alike: compare the cut channel with another.
        EXPECT_TRUE(cut(centre[0]) < cut(centre[1]) && cut(centre[1]) < cut(centre[2]) &&
                    cut(centre[0]) < other(centre[0]) && cut(centre[2]) > other(centre[2]))
            << radio->text().toStdString();
    }
}

// Drawing only the picture's part of the overlay must change no pixel: on both views, and on
// a panel smaller than the picture (marble's is 128 x 128).
TEST_F(FrameGlTest, ThePictureSizedOverlayGivesTheFullPanelFrame) {
    chooseVolume("marble");
    QWidget* panel = controller->glPanel;
    for (const QSize& size : {QSize(), QSize(100, 90)}) {
        if (size.isValid()) {
            panel->setFixedSize(size);
            ASSERT_TRUE(QTest::qWaitFor([&] { return viewWidth == 100 && viewHeight == 90; }));
        }
        for (QRadioButton* view : {controller->viewBunnyRadio, controller->viewCubeRadio}) {
            view->setChecked(true);
            EXPECT_EQ(paintedPixels(OverlayExtent::Picture), paintedPixels(OverlayExtent::Panel))
                << viewWidth << "x" << viewHeight << " " << view->text().toStdString();
        }
    }
}
