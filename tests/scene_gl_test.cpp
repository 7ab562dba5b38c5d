#include "fatalerror.h"
#include "glpanel.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <gtest/gtest.h>

#include <QMainWindow>
#include <QOpenGLContext>

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {
// A working folder holding the real shaders and mesh and two tiny volumes, "b" and "a".
void writeScene(const ScratchDir& dir) {
    for (const char* name : {"shaders/shading.vert", "shaders/shading.frag", "input/bunny.dat"}) {
        std::ifstream in(sourceDir() + "/" + name, std::ios::binary);
        dir.write(name, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    dir.write("input/b.vol", volumeFile(3, "b", std::vector<unsigned char>(3 * 27, 200)));
    dir.write("input/a.vol", volumeFile(2, "a", std::vector<unsigned char>(3 * 8, 100)));
}

void buildWindow() {
    window = new QMainWindow;
    controller = new MainWindow;
    controller->setup(window);
}
} // namespace

// main calls initScene right after show(): showing the window must already have initialised
// the panel's GL (GLEW started, fixed state set), and initScene must not depend on whichever
// context happens to be current.
TEST(Scene, SetUpNeedsTheShownPanelAndMakesItsContextCurrent) {
    ensureApplication();
    ScratchDir dir;
    writeScene(dir);
    buildWindow();
    int initialized = 0;
    QObject::connect(controller->glPanel, &GLPanel::initialize, [&] { ++initialized; });

    // Before show() there is no GL to set up with: a clear error, not a crash.
    EXPECT_EQ(fatalMessageOf([] { initScene(); }), "can't create an OpenGL context");
    EXPECT_EQ(initialized, 0);

    window->show();
    EXPECT_EQ(initialized, 1);
    if (QOpenGLContext* current = QOpenGLContext::currentContext())
        current->doneCurrent();
    ASSERT_EQ(QOpenGLContext::currentContext(), nullptr);

    initScene();
    EXPECT_EQ(QOpenGLContext::currentContext(), controller->glPanel->context());
    EXPECT_NE(shaderProgram, 0u);
    EXPECT_NE(lightVecLoc, -1);
    ASSERT_EQ(controller->textureCombo->count(), 2);
    EXPECT_EQ(controller->textureCombo->itemText(0), "a");
    EXPECT_EQ(controller->textureCombo->currentIndex(), 0);
    EXPECT_EQ(volumeSize, 2); // the first entry is the one loaded
    EXPECT_NE(textFont, nullptr);
}

// A driver without a feature the viewer calls must stop with its name, not crash calling an
// entry point GLEW never loaded. Mesa lets the test hide an extension.
TEST(SceneDeathTest, MissingExtensionIsNamed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_shader_objects", 1);
            setFatalNotice([](const std::string& message) { std::cerr << message << "\n"; });
            ensureApplication();
            buildWindow();
            window->show();
        },
        testing::ExitedWithCode(1), "missing OpenGL support: GL_ARB_shader_objects");
}
