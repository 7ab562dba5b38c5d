#include "mainwindow.h"
#include "scene.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    // The console shows progress lines as they are written, also when it is a pipe or a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    buildMainWindow();
    initScene();
    return application.exec();
}
