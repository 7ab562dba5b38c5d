#include "fatalerror.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {
FatalNotice currentNotice = showFatalMessageBox;
}

void showFatalMessageBox(const std::string& message) {
    // Without a QApplication (a command-line caller) there is nothing to show a box with.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ERROR"),
                    QString::fromLocal8Bit(message.c_str()), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // a message is shown as written, never as markup
    box.exec();
}

FatalNotice setFatalNotice(FatalNotice notice) {
    FatalNotice previous = currentNotice;
    currentNotice = notice ? notice : showFatalMessageBox;
    return previous;
}

void fatalError(const std::string& message) {
    std::cout << message << std::endl;
    currentNotice(message);
    // A failure must not look like success to whoever started the process.
    std::exit(1);
}

void fatalError(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args); // longer messages are cut at 1023
    va_end(args);
    fatalError(std::string(buffer));
}
