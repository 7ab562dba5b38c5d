#pragma once

#include <QString>
#include <QStringList>

// Starts GLEW, checks that the OpenGL features the viewer calls are there and sets the fixed
// GL state every frame relies on. Runs inside the panel's first GL initialisation.
void initializeGraphics();

// Builds the shader program, fills the volume list, loads the first volume, the mesh "bunny"
// and the help-text font, and asks for the first frame. Runs once, after the window is shown
// (which initialises the panel's GL); makes the panel's context current itself.
void initScene();

// The volume names in a directory, in the order they are inserted at the top of the list:
// entries by name, case-sensitive, descending; hidden entries and names not ending in
// exactly ".vol" left out; the ending removed.
QStringList volumeEntries(const QString& directory);

// The first OpenGL feature the viewer needs that the current context lacks; empty if none.
std::string firstMissingGlFeature();
