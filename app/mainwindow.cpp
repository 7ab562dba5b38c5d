#include "mainwindow.h"

#include "frame.h"
#include "glpanel.h"
#include "interaction.h"
#include "scene.h"
#include "state.h"
#include "volume.h"

#include <QGridLayout>
#include <QMainWindow>
#include <QMouseEvent>
#include <QWheelEvent>

MainWindow::MainWindow() : QObject(nullptr) {}

void MainWindow::setup(QMainWindow* window) {
    setupUi(window);

    glPanel = new GLPanel(nullptr);
    auto* layout = new QGridLayout(nullptr);
    layout->addWidget(glPanel, 0, 0);
    glFrame->setLayout(layout); // makes the panel a child of glFrame
    form = this;
    viewPanel = glPanel;

    connect(glPanel, SIGNAL(mouseMove(QMouseEvent*)), this, SLOT(mouseMoveSlot(QMouseEvent*)));
    connect(glPanel, SIGNAL(mousePress(QMouseEvent*)), this, SLOT(mousePressSlot(QMouseEvent*)));
    connect(glPanel, SIGNAL(mouseRelease(QMouseEvent*)), this,
            SLOT(mouseReleaseSlot(QMouseEvent*)));
    connect(glPanel, SIGNAL(wheel(QWheelEvent*)), this, SLOT(wheelSlot(QWheelEvent*)));
    connect(glPanel, SIGNAL(paint()), this, SLOT(paintSlot()));
    connect(glPanel, SIGNAL(resize(int, int)), this, SLOT(resizeSlot(int, int)));
    connect(glPanel, SIGNAL(initialize()), this, SLOT(initializeSlot()));
    connect(textureCombo, SIGNAL(activated(int)), this, SLOT(loadTexturesSlot()));
    connect(viewCubeRadio, SIGNAL(clicked()), this, SLOT(repaintSlot()));
    connect(viewBunnyRadio, SIGNAL(clicked()), this, SLOT(repaintSlot()));
    connect(viewXyRadio, SIGNAL(clicked()), this, SLOT(repaintSlot()));
    connect(viewXzRadio, SIGNAL(clicked()), this, SLOT(repaintSlot()));
    connect(viewYzRadio, SIGNAL(clicked()), this, SLOT(repaintSlot()));
    connect(sliceSlider, SIGNAL(valueChanged(int)), this, SLOT(repaintSlot()));
}

void MainWindow::loadTexturesSlot() {
    // The loader issues GL calls; a combo-box signal arrives outside the panel's callbacks.
    glPanel->makeCurrent();
    loadVolume();
    glPanel->update();
}

void MainWindow::mouseMoveSlot(QMouseEvent* event) {
    const QPoint position = event->position().toPoint();
    const Qt::MouseButtons buttons = event->buttons();
    dragStep(position.x(), position.y(), buttons & Qt::LeftButton, buttons & Qt::RightButton);
    glPanel->update();
}

void MainWindow::mousePressSlot(QMouseEvent*) {
    lastMouseValid = false;
    glPanel->update();
}

void MainWindow::mouseReleaseSlot(QMouseEvent*) {}

void MainWindow::wheelSlot(QWheelEvent* event) {
    // Any wheel zooms: a horizontal wheel or tilt reports its turn in the x component.
    const QPoint angle = event->angleDelta();
    zoomStep(angle.y() != 0 ? angle.y() : angle.x());
    glPanel->update();
}

void MainWindow::paintSlot() {
    paintFrame();
}

void MainWindow::repaintSlot() {
    glPanel->update();
}

void MainWindow::resizeSlot(int width, int height) {
    resizeView(width, height);
}

void MainWindow::initializeSlot() {
    initializeGraphics();
}

void buildMainWindow() {
    window = new QMainWindow;
    controller = new MainWindow;
    controller->setup(window);
    window->show();
}

void loadVolume() {
    loadVolumeNamed(chosenVolumeName());
}
