#include <GL/glew.h>

#include "scene.h"

#include "frame.h"
#include "files.h"
#include "fatalerror.h"
#include "glcheck.h"
#include "ui_mainwindow.h"
#include "mesh.h"
#include "shader.h"
#include "state.h"
#include "volume.h"

#include <QDir>
#include <QFileInfo>
#include <QOpenGLWidget>

#include <string>

std::string firstMissingGlFeature() {
    // Each feature with the entry points the viewer calls: calling one that GLEW did not load
    // would crash, so a missing one is reported by name instead.
    struct Feature {
        const char* name;
        bool present;
    };
    const Feature features[] = {
        {"GL_ARB_shader_objects", GLEW_ARB_shader_objects && glCreateShaderObjectARB &&
                                      glShaderSourceARB && glCompileShaderARB &&
                                      glCreateProgramObjectARB && glAttachObjectARB &&
                                      glLinkProgramARB && glUseProgramObjectARB &&
                                      glGetObjectParameterivARB && glGetInfoLogARB},
        {"GL_ARB_vertex_shader", bool(GLEW_ARB_vertex_shader)},
        {"GL_ARB_fragment_shader", bool(GLEW_ARB_fragment_shader)},
        {"OpenGL 2.0 uniforms", glGetUniformLocation && glUniform1f && glUniform3f},
        {"3D textures", (GLEW_VERSION_1_2 || GLEW_EXT_texture3D) && glTexImage3D},
        {"GL_ARB_vertex_buffer_object",
         GLEW_ARB_vertex_buffer_object && glGenBuffersARB && glBindBufferARB && glBufferDataARB},
        {"GL_ARB_window_pos", (GLEW_ARB_window_pos || GLEW_VERSION_1_4) && glWindowPos2i},
    };
    for (const Feature& feature : features)
        if (!feature.present)
            return feature.name;
    return std::string();
}

void initializeGraphics() {
    glewExperimental = GL_FALSE;
    const GLenum result = glewInit();
    if (result != GLEW_OK)
        fatalError(std::string("ERROR: glew initialization failed: ") +
                   reinterpret_cast<const char*>(glewGetErrorString(result)));
    const std::string missing = firstMissingGlFeature();
    if (!missing.empty())
        fatalError("missing OpenGL support: %s", missing.c_str());

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glClearColor(1, 1, 1, 0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
}

QStringList volumeEntries(const QString& directory) {
    QDir dir(directory);
    dir.setSorting(QDir::Reversed);
    QStringList names;
    const QFileInfoList entries = dir.entryInfoList(QDir::NoFilter, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!name.isEmpty() && name.at(0) == QLatin1Char('.'))
            continue;
        if (!name.endsWith(QLatin1String(".vol"), Qt::CaseSensitive))
            continue;
        names.append(name.left(name.size() - 4));
    }
    return names;
}

void initScene() {
    // The panel's GL context was created while the window was shown; without one there is
    // nothing to draw with.
    if (!viewPanel->isValid())
        fatalError("can't create an OpenGL context");
    viewPanel->makeCurrent();

    vertexShader = glCreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    loadShaderSource(vertexShader, "shaders/shading.vert");
    compileShader(vertexShader);
    fragmentShader = glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    loadShaderSource(fragmentShader, "shaders/shading.frag");
    compileShader(fragmentShader);
    shaderProgram = glCreateProgramObjectARB();
    glAttachObjectARB(shaderProgram, vertexShader);
    glAttachObjectARB(shaderProgram, fragmentShader);
    linkProgram(shaderProgram);
    lightAmbientLoc = glGetUniformLocation(shaderProgram, "lightAmbient");
    lightDiffuseLoc = glGetUniformLocation(shaderProgram, "lightDiffuse");
    lightSpecularLoc = glGetUniformLocation(shaderProgram, "lightSpecular");
    lightExponentLoc = glGetUniformLocation(shaderProgram, "lightExponent");
    lightMinLoc = glGetUniformLocation(shaderProgram, "lightMin");
    lightVecLoc = glGetUniformLocation(shaderProgram, "lightVec");

    // Each name goes to the top, so the descending listing ends up ascending.
    for (const QString& name : volumeEntries(QString(inputFolder)))
        form->textureCombo->insertItem(0, name);
    form->textureCombo->setCurrentIndex(0);

    loadVolumeNamed(chosenVolumeName());
    loadMesh(QStringLiteral("bunny"));
    updateTextFont();
    checkGlErrors("setting up the scene");
    viewPanel->update();
}
