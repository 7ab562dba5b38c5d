#pragma once

// Program-wide scene and interaction state. Every name is defined once, in state.cpp.

#include <string>
#include <vector>

class QMainWindow;
class QOpenGLWidget;
class MainWindow;
class Ui_MainWindow;
class BitmapFont;

extern QMainWindow* window;    // the top-level window; null until main creates it
extern MainWindow* controller; // the controller, which is also the form; null until main
// The controller's form and GL panel as the lower layers see them: the controls that render/
// reads (the frame, the scene set-up), and the panel whose context it makes current. Set by
// setup.
extern Ui_MainWindow* form;      // the controller's form part; null until setup
extern QOpenGLWidget* viewPanel; // the controller's GL panel; null until setup

extern float zoom;          // camera distance from the model, kept in [1, 10]; 3.0
extern float modelAngleX;   // model rotation about x, degrees; 0
extern float modelAngleY;   // model rotation about y, degrees; 0
extern float textureAngleX; // texture-space rotation about x, degrees; 0
extern float textureAngleY; // texture-space rotation about y, degrees; 0
extern int lastMouseX;      // pointer x of the last move, logical panel pixels; 0
extern int lastMouseY;      // pointer y of the last move, logical panel pixels; 0
extern bool lastMouseValid; // false right after a press: the next move only records; false

extern unsigned int vertexShader;   // vertex shader object; 0
extern unsigned int fragmentShader; // fragment shader object; 0
extern unsigned int shaderProgram;  // linked program that draws the model; 0
extern int lightAmbientLoc;         // location of the uniform lightAmbient; 0
extern int lightDiffuseLoc;         // location of the uniform lightDiffuse; 0
extern int lightSpecularLoc;        // location of the uniform lightSpecular; 0
extern int lightExponentLoc;        // location of the uniform lightExponent; 0
extern int lightMinLoc;             // location of the uniform lightMin; 0
extern int lightVecLoc;             // location of the uniform lightVec; 0

extern BitmapFont* textFont; // font of the help text; null until the scene is set up
extern int fontHeight;       // help-text height and line spacing in logical pixels; 16
extern int textHeight;       // textFont's height in device pixels; 0 until the font exists

extern int viewWidth;                            // GL panel width in device pixels; 0
extern int viewHeight;                           // GL panel height in device pixels; 0
extern float viewAspect;                         // viewWidth / viewHeight; 0
extern std::vector<unsigned char> overlayPixels; // RGBA picture overlay, bottom row first; empty

// The current text of the form's volume list as 8-bit text: the name of the chosen volume.
std::string chosenVolumeName();
