#include "testsupport.h"

#include <QApplication>

void ensureApplication() {
    static int argc = 1;
    static char name[] = "tessary-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv); // lives until the process ends, like the viewer's
}
