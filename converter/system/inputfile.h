#pragma once

// Opening the converter's inputs: one way, with one message.

#include "files.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

// Opens path for reading as openFile does (a regular file only, never blocking). Returns "" or
// "PATH: can't open input file", leaving *file null.
std::string openInputFile(const QString& path, FileHandle* file);

// Reads length bytes of fd from offset into out, however few each read gives; false when the
// file ends first or a read fails.
bool readExactly(int fd, std::uint64_t offset, std::size_t length, void* out);
