#pragma once

#include <QString>
#include <QTemporaryDir>

#include <string>

// A new temporary folder that is the working directory while the guard lives. The previous
// working directory comes back and the folder is removed when the guard goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Whether the folder exists and became the working directory.
    bool isValid() const { return entered_; }
    std::string path() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
    QString previous_;
    bool entered_ = false;
};
