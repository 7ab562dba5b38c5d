#include "output.h"
#include "commandtable.h"

#include <QCoreApplication>

#include <malloc.h>

int main(int argc, char** argv) {
    cleanUpTemporariesOnSignals(); // before any thread starts, so that all inherit its mask
    // Slices and decoded files are allocated and freed again for every slice, often on a new
    // thread: memory freed is kept for the next one rather than handed back to the system and
    // faulted in, zeroed, again.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    QCoreApplication application(argc, argv); // Qt's image plugins are found through it
    return runVolumeTool(QCoreApplication::arguments());
}
