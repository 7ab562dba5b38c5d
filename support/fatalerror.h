#pragma once

#include <string>

// Reports an error that the program cannot recover from: prints the message as one line on
// standard output, shows it in a modal notice captioned "ERROR" and ends the process with
// status 1. Never returns.
[[noreturn]] void fatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatalError(const std::string& message);

// The blocking notice shown before the process ends. The default shows a QMessageBox when a
// QApplication exists; tests replace it so that fatal paths run without anyone pressing OK.
using FatalNotice = void (*)(const std::string& message);
FatalNotice setFatalNotice(FatalNotice notice); // returns the notice it replaces
void showFatalMessageBox(const std::string& message);
