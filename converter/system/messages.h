#pragma once

// The form of the converter's messages about files.

#include <QString>

#include <string>

// "PATH: message", the form of every message about a file, its control characters escaped
// (the path and the message may carry a file's own text).
std::string fileMessage(const QString& path, const std::string& message);
