#pragma once

// Opening the converter's inputs: one way, with one message.

#include "files.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

// Why path does not open as an input, in words: "can't open input file: no such file",
// "...: permission denied", "...: not a regular file" (a FIFO, a device), or the system's own
// reason. Asked again of the system, so that it says why now.
[[nodiscard]] std::string cantOpenReason(const QString& path);

// Opens path for reading as openFile does (a regular file only, never blocking). Returns "" or
// "PATH: " and cantOpenReason, leaving *file null.
[[nodiscard]] std::string openInputFile(const QString& path, FileHandle* file);

// openInputFile, and the file's length in *length. Returns "" or cantOpenReason alone (without
// the path), as a reader's bare reasons are.
[[nodiscard]] std::string openInputWithLength(const QString& path, FileHandle* file,
                                              std::uint64_t* length);

// A file that an input names beside it (a dataset's XML, the data an XML names) is an input
// too, so the same care applies: it must lie in `folder`, links resolved, and be a regular file.
// Fills *canonical with its resolved path; "" or the reason, without the path.
[[nodiscard]] std::string checkFileInFolder(const QString& folder, const QString& path,
                                            QString* canonical);

// Reads length bytes of fd from offset into out, however few each read gives; false when the
// file ends first or a read fails.
bool readExactly(int fd, std::uint64_t offset, std::size_t length, void* out);

// Writes length bytes of in to fd at offset, however few each write takes (the scratch files
// readers keep samples in); false when a write fails.
bool writeExactly(int fd, std::uint64_t offset, std::size_t length, const void* in);
