#include "inputfile.h"

#include "messages.h"

#include <QFile>

std::string openInputFile(const QString& path, FileHandle* file) {
    *file = openFile(QFile::encodeName(path).constData(), "rb");
    return *file ? std::string() : fileMessage(path, inputMessages::cantOpen);
}
