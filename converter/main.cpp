#include "allocator.h"
#include "output.h"
#include "commandtable.h"
#include "sanitized.h"

#include <QCoreApplication>

#include <unistd.h>

#include <clocale>
#include <cstdio>

namespace {
// Ends the process once its work is done and every output is closed. Tearing down a hundred
// libraries' globals (GDCM's dictionaries, Qt's plugins) takes longer than a small pack;
// the sanitized build keeps the normal exit, where the leak check runs.
[[noreturn]] void endProcess(int status) {
    std::fflush(nullptr);
#ifndef TESSARY_ASAN
    _exit(status);
#else
    std::exit(status);
#endif
}
} // namespace

int main(int argc, char** argv) {
    cleanUpTemporariesOnSignals(); // before any thread starts, so that all inherit its mask
    keepFreedMemory();
    int status = 0;
    {
        QCoreApplication application(argc, argv); // Qt's image plugins are found through it
        // Qt takes the user's locale; numbers, written and read, stay in the C locale's form
        // ("1.5", never "1,5"), since programs read the lines the converter prints.
        std::setlocale(LC_NUMERIC, "C");
        status = runVolumeTool(QCoreApplication::arguments());
    }
    endProcess(status);
}
