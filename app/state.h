#pragma once

// Program-wide scene and interaction state. Every name is defined once, in state.cpp.

#include <vector>

class QMainWindow;
class MainWindow;
class BitmapFont;

extern QMainWindow* window;    // the top-level window; null until main creates it
extern MainWindow* controller; // the controller, which is also the form; null until main

extern float zoom;          // camera distance from the model, kept in [1, 10]; 3.0
extern float modelAngleX;   // model rotation about x, degrees; 0
extern float modelAngleY;   // model rotation about y, degrees; 0
extern float textureAngleX; // texture-space rotation about x, degrees; 0
extern float textureAngleY; // texture-space rotation about y, degrees; 0
extern int lastMouseX;      // pointer x of the last move, panel pixels; 0
extern int lastMouseY;      // pointer y of the last move, panel pixels; 0
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
extern int fontHeight;       // font height and help-line spacing in pixels; 16, never changed

extern int viewWidth;                            // GL panel width in device pixels; 0
extern int viewHeight;                           // GL panel height in device pixels; 0
extern float viewAspect;                         // viewWidth / viewHeight; 0
extern std::vector<unsigned char> overlayPixels; // RGBA overlay, bottom row first; empty
