#include "output.h"
#include "commandtable.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    cleanUpTemporariesOnSignals(); // before any thread starts, so that all inherit its mask
    QCoreApplication application(argc, argv); // Qt's image plugins are found through it
    return runVolumeTool(QCoreApplication::arguments());
}
