#pragma once

// Opening the converter's inputs: one way, with one message.

#include "files.h"

#include <QString>

#include <string>

// Opens path for reading as openFile does (a regular file only, never blocking). Returns "" or
// "PATH: can't open input file", leaving *file null.
std::string openInputFile(const QString& path, FileHandle* file);
