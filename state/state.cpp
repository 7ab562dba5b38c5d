#include "state.h"

#include "ui_mainwindow.h"

QMainWindow* window = nullptr;
MainWindow* controller = nullptr;
Ui_MainWindow* form = nullptr;
QOpenGLWidget* viewPanel = nullptr;

float zoom = 3.0f;
float modelAngleX = 0.0f;
float modelAngleY = 0.0f;
float textureAngleX = 0.0f;
float textureAngleY = 0.0f;
int lastMouseX = 0;
int lastMouseY = 0;
bool lastMouseValid = false;

unsigned int vertexShader = 0;
unsigned int fragmentShader = 0;
unsigned int shaderProgram = 0;
int lightAmbientLoc = 0;
int lightDiffuseLoc = 0;
int lightSpecularLoc = 0;
int lightExponentLoc = 0;
int lightMinLoc = 0;
int lightVecLoc = 0;

BitmapFont* textFont = nullptr;
int fontHeight = 16;
int textHeight = 0;

int viewWidth = 0;
int viewHeight = 0;
float viewAspect = 0.0f;
std::vector<unsigned char> overlayPixels;

std::string chosenVolumeName() {
    return form->textureCombo->currentText().toLocal8Bit().toStdString();
}
