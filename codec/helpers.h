#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// printf-style formatting into a std::string of at most 1023 characters.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A C stream that closes itself, so no path out of a reader leaks it.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The folder, relative to the working directory, that the viewer reads its volumes, their
// pictures and the mesh from; the converter writes the sample volumes there by default.
const char inputFolder[] = "input";

// inputFolder/name.
std::string inputPath(const std::string& name);

// The message for an input that does not open: missing, unreadable or not a regular file.
namespace inputMessages {
const char cantOpen[] = "can't open input file";
} // namespace inputMessages

// text with its control characters (bytes below 0x20, and 0x7f) written as \xHH, so that text
// from a file can be printed without driving the terminal.
std::string printableText(const std::string& text);

// fopen for the program's files. A read mode ("r...") opens only a regular file, and never
// blocks doing so: a directory, a FIFO or a device gives null, as a missing file does.
FileHandle openFile(const char* path, const char* mode);

// Bytes between the stream's position and its end; -1 when the stream cannot seek.
long remainingBytes(std::FILE* file);

// The 32-bit value stored little-endian in bytes[0..3], assembled byte by byte so the files
// read the same on any host byte order.
std::uint32_t littleEndianWord(const unsigned char* bytes);
std::int32_t littleEndianInt(const unsigned char* bytes);

// The memory the system can give without swapping (MemAvailable), in bytes; -1 when unknown.
std::int64_t availableMemory();

// One little-endian 32-bit value from a binary stream; 0 when fewer than 4 bytes remain.
std::int32_t readInt(std::FILE* file);
float readFloat(std::FILE* file);
