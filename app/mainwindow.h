#pragma once

#include <QObject>

#include "ui_mainwindow.h"

class GLPanel;
class QMouseEvent;
class QWheelEvent;

// The controller: it is also the form, receives every user action and hands the work to the
// layer that does it. The render layer reads the controls through `form` (state.h).
class MainWindow : public QObject, public Ui_MainWindow {
    Q_OBJECT

public:
    MainWindow();

    // Builds the form into window, places the GL panel in glFrame and makes the connections.
    void setup(QMainWindow* window);

    GLPanel* glPanel = nullptr; // the GL panel inside glFrame; null until setup

public slots:
    void loadTexturesSlot();
    void mouseMoveSlot(QMouseEvent* event);
    void mousePressSlot(QMouseEvent* event);
    void mouseReleaseSlot(QMouseEvent* event);
    void wheelSlot(QWheelEvent* event);
    void paintSlot();
    void repaintSlot();
    void resizeSlot(int width, int height);
    void initializeSlot();
};

// Builds the viewer's window as the program starts it: the top-level window, the controller
// with its form, panel and connections, then shows it (which initialises the panel's GL).
void buildMainWindow();

// Loads the volume that the form's volume list names. Needs the panel's GL context current.
void loadVolume();
