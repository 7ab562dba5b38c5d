// The viewer window as main builds it, under Xvfb: what frames show for the bunny, the cut cube
// and a texture turn, read back from the panel's framebuffer.
#include "fatalerror.h"
#include "glcheck.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QProcess>

#include <array>

namespace {
const QString buildDir = qEnvironmentVariable("TESSARY_BUILD_DIR");
const QString sourceRoot = QString::fromStdString(sourceDir());

// Sets up the sample data, shaders and window in a scratch folder once, as main does.
bool startViewer() {
    static const bool started = [] {
        ensureApplication();
        static ScratchDir scratch; // the working directory for the rest of the run
        if (QProcess::execute(buildDir + "/tools/makevolumes", {"input"}) != 0)
            return false;
        QDir().mkdir("shaders");
        for (const char* file : {"input/bunny.dat", "shaders/shading.vert", "shaders/shading.frag"})
            QFile::copy(sourceRoot + "/" + file, file); // a missing one is fatal in initScene
        setFatalNotice([](const std::string&) { std::abort(); }); // never wait on a box
        setGlErrorChecking(true);
        window = new QMainWindow;
        controller = new MainWindow;
        controller->setup(window);
        window->show();
        initScene();
        return true;
    }();
    return started;
}

QImage frame() {
    return controller->glPanel->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
}

bool white(QRgb pixel) {
    return (pixel & 0xffffff) == 0xffffff;
}

// Compares the frame's central 448x384 pixels (the model, clear of the help text and the
// reference image) with tests/baselines/NAME.png, or rewrites the baseline when
// TESSARY_UPDATE_BASELINES=1. llvmpipe draws the same pixels on every run; one unit per
// channel is let through for rounding in other Mesa builds.
void expectBaseline(const QImage& image, const QString& name) {
    const QImage actual = image.copy(image.width() / 2 - 224, image.height() / 2 - 192, 448, 384);
    const QString path = sourceRoot + "/tests/baselines/" + name + ".png";
    if (qEnvironmentVariable("TESSARY_UPDATE_BASELINES") == "1") {
        EXPECT_TRUE(actual.save(path)) << path.toStdString();
        return;
    }
    const QImage expected = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(expected.size(), actual.size()) << path.toStdString();
    QImage diff(actual.size(), QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                    std::abs(qBlue(a) - qBlue(e))});
            differing += d > 1;
            diff.setPixel(x, y, d > 1 ? qRgb(255, 0, 0) : qRgb(255, 255, 255));
        }
    const QString stem = buildDir + "/tests/" + name;
    EXPECT_EQ(differing, 0) << "differ from " << path.toStdString() << "; see "
                            << stem.toStdString() << "-actual.png and -diff.png";
    if (differing > 0)
        actual.save(stem + "-actual.png"), diff.save(stem + "-diff.png");
}
} // namespace

TEST(FrameGl, BunnyFrameLayout) {
    ASSERT_TRUE(startViewer());
    const QImage image = frame();
    const int w = image.width(), h = image.height();
    EXPECT_TRUE(white(image.pixel(0, 0)) && white(image.pixel(w - 1, 0)) &&
                white(image.pixel(w - 1, h - 1)) && !white(image.pixel(w / 2, h / 2)));

    // The reference image, unscaled and upright, at the bottom-left corner.
    const QImage reference = QImage("input/axes.png").convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.copy(0, h - reference.height(), reference.width(), reference.height()),
              reference);

    // Three lines of help text at the top-left, nothing dark far right of them.
    int text = 0, farRight = 0;
    for (int y = 0; y < 3 * fontHeight + 4; ++y)
        for (int x = 0; x < w; ++x)
            (x < 300 ? text : farRight) += qGray(image.pixel(x, y)) < 100;
    EXPECT_GT(text, 300);
    EXPECT_EQ(farRight, 0);

    // Without a volume texture a paint draws nothing: the turned model does not show.
    const unsigned int texture = volumeTexture;
    volumeTexture = 0;
    modelAngleY = 45;
    EXPECT_EQ(frame(), image);
    volumeTexture = texture;
    modelAngleY = 0;
}

TEST(FrameGl, TextureTurnRecoloursInsideTheSilhouette) {
    ASSERT_TRUE(startViewer());
    // No wood texel is light in all channels, so no lit one turns white like the background.
    controller->textureCombo->setCurrentText("wood");
    controller->loadTexturesSlot();
    const QImage before = frame();
    textureAngleY += 30;
    const QImage after = frame();
    textureAngleY -= 30;
    int silhouetteChanges = 0, recoloured = 0;
    for (int y = 3 * fontHeight + 8; y < before.height() - referenceImage.height; ++y)
        for (int x = 0; x < before.width(); ++x) {
            silhouetteChanges += white(before.pixel(x, y)) != white(after.pixel(x, y));
            recoloured += before.pixel(x, y) != after.pixel(x, y);
        }
    EXPECT_EQ(silhouetteChanges, 0);
    EXPECT_GT(recoloured, 1000);
    controller->textureCombo->setCurrentText("axes");
    controller->loadTexturesSlot();
}

TEST(FrameGl, CutFaceColourFollowsTheSlider) {
    ASSERT_TRUE(startViewer());
    controller->viewCubeRadio->click();
    // Each plane with the model turned so that its cut face looks at the viewer, and the
    // channel that the axes volume varies along the cut direction.
    const std::tuple<QRadioButton*, float, float, int> planes[] = {
        {controller->viewXyRadio, 0, 0, 2},
        {controller->viewXzRadio, 90, 0, 1},
        {controller->viewYzRadio, 0, -90, 0}};
    for (const auto& [radio, angleX, angleY, c] : planes) {
        radio->click();
        modelAngleX = angleX, modelAngleY = angleY;
        std::vector<std::array<int, 3>> centre; // at slider 0, 50, 100
        for (int value : {0, 50, 100}) {
            controller->sliceSlider->setValue(value);
            const QImage image = frame();
            const QRgb p = image.pixel(image.width() / 2, image.height() / 2);
            centre.push_back({qRed(p), qGreen(p), qBlue(p)});
            if (c == 2 && value == 50)
                expectBaseline(image, "cube_xy_50");
        }
        // Lighting scales all channels alike: compare the cut channel with another.
        const int other = (c + 1) % 3;
        EXPECT_TRUE(centre[0][c] < centre[1][c] && centre[1][c] < centre[2][c] &&
                    centre[0][c] < centre[0][other] && centre[2][c] > centre[2][other])
            << "channel " << c;
    }
    modelAngleX = modelAngleY = 0;
    controller->sliceSlider->setValue(50);
    controller->viewBunnyRadio->click();
}
