#include "volcli.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv); // Qt's image plugins are found through it
    return runVolumeTool(QCoreApplication::arguments());
}
