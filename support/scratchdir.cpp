#include "scratchdir.h"

#include <QDir>

ScratchDir::ScratchDir() : previous_(QDir::currentPath()) {
    entered_ = dir_.isValid() && QDir::setCurrent(dir_.path());
}

ScratchDir::~ScratchDir() {
    QDir::setCurrent(previous_);
}
