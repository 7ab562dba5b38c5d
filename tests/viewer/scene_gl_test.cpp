#include "glpanel.h"
#include "mainwindow.h"
#include "scene.h"
#include "state.h"
#include "testsupport.h"
#include "volume.h"

#include <QOpenGLContext>

#include <iostream>

// A panel that was never shown has no GL to set up with: a clear error, not a crash.
TEST(SceneGlTest, SetUpWithoutAContextStopsWithAMessage) {
    ensureApplication();
    GLPanel unshown(nullptr);
    viewPanel = &unshown;
    EXPECT_EQ(fatalMessageOf([] { initScene(); }), "can't create an OpenGL context");
    viewPanel = nullptr;
}

// main calls initScene right after show(): showing the window must already have initialised
// the panel's GL, and initScene must not depend on whichever context happens to be current.
// The list holds the .vol entries by case-sensitive name, directories too, hidden ones not.
TEST(SceneGlTest, SetUpMakesThePanelCurrentListsTheVolumesAndLoadsTheFirst) {
    ensureApplication();
    ScratchDir dir;
    writeFile("input/C.vol", volumeFile(2, "", std::vector<unsigned char>(3 * 8, 100)));
    for (const char* name : {"b.vol", "a.vol", "x.VOL", "notes.txt", ".hidden.vol"})
        writeFile(std::string("input/") + name, "x");
    QDir().mkpath("input/d.vol");
    copyViewerFiles();
    buildMainWindow();
    EXPECT_TRUE(controller->glPanel->isValid());
    if (QOpenGLContext* current = QOpenGLContext::currentContext())
        current->doneCurrent();
    initScene();
    EXPECT_EQ(QOpenGLContext::currentContext(), controller->glPanel->context());
    EXPECT_NE(shaderProgram, 0u);
    for (int location : {lightAmbientLoc, lightDiffuseLoc, lightSpecularLoc, lightExponentLoc,
                         lightMinLoc, lightVecLoc})
        EXPECT_NE(location, -1); // the viewer's shaders use every light uniform
    QStringList items;
    for (int i = 0; i < controller->textureCombo->count(); ++i)
        items << controller->textureCombo->itemText(i);
    EXPECT_EQ(items, QStringList({"C", "a", "b", "d"}));
    EXPECT_EQ(controller->textureCombo->currentIndex(), 0);
    EXPECT_EQ(volumeSize, 2); // the first entry is the one loaded
}

// A driver without a feature the viewer calls must stop with its name, not crash calling an
// entry point GLEW never loaded. Mesa lets the test hide an extension.
TEST(SceneGlDeathTest, MissingExtensionIsNamed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_shader_objects", 1);
            setFatalNotice([](const std::string& message) { std::cerr << message << "\n"; });
            ensureApplication();
            buildMainWindow();
        },
        testing::ExitedWithCode(1), "missing OpenGL support: GL_ARB_shader_objects");
}
