#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include <sys/stat.h>

// A C stream that closes itself, so no path out of a reader leaks it.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The folder, relative to the working directory, that the viewer reads its volumes, their
// pictures and the mesh from; the converter writes the sample volumes there by default.
const char inputFolder[] = "input";

// inputFolder/name.
[[nodiscard]] std::string inputPath(const std::string& name);

// The message for an input that does not open: missing, unreadable or not a regular file.
namespace inputMessages {
const char cantOpen[] = "can't open input file";
} // namespace inputMessages

// Opens path for reading without a stream, as openFile's read modes do: a regular file only,
// never blocking. The descriptor (still non-blocking, which a regular file ignores), or -1;
// *status, where given, is the file's.
int openRegularFile(const char* path, struct stat* status = nullptr);

// fopen for the program's files. A read mode ("r...") opens only a regular file, and never
// blocks doing so: a directory, a FIFO or a device gives null, as a missing file does.
FileHandle openFile(const char* path, const char* mode);

// Bytes between the stream's position and its end; -1 when the stream cannot seek.
long remainingBytes(std::FILE* file);
