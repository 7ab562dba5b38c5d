#pragma once

#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The process-wide QApplication the Qt-using tests need; created on first use.
void ensureApplication();

// Thrown by the test notice in place of ending the process, so a test can check the message
// of a fatal error and go on. The real notice and the exit status are tested elsewhere.
struct FatalErrorSeen {
    std::string message;
};

// While alive, fatal errors throw FatalErrorSeen instead of showing a box and exiting.
class ThrowingFatalNotice {
public:
    ThrowingFatalNotice();
    ~ThrowingFatalNotice();

private:
    void (*saved_)(const std::string&); // the notice to put back
};

// Runs body and returns the message of the fatal error it raised; fails the test and returns
// an empty string when it raised none.
std::string fatalMessageOf(const std::function<void()>& body);

// A temporary folder that is the working directory while the object lives.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path() const;
    // Writes bytes to a file relative to the folder, creating sub-folders as needed.
    void write(const std::string& relativePath, const std::vector<unsigned char>& bytes) const;
    void write(const std::string& relativePath, const std::string& text) const;

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Little-endian encoders for crafting binary files.
void appendInt32(std::vector<unsigned char>& bytes, std::int32_t value);
void appendFloat(std::vector<unsigned char>& bytes, float value);

// A .vol file: the 4096-byte header with the given fields, then the given sample bytes.
std::vector<unsigned char> volumeFile(std::int32_t size, const std::string& imageName,
                                      const std::vector<unsigned char>& samples,
                                      std::int32_t version = 4, std::int32_t components = 3,
                                      std::int32_t componentType = 1, const char magic[4] = "VOLU");

// Runs body with standard output redirected and returns what it printed.
std::string captureStdout(const std::function<void()>& body);

// The repository root, for the shaders and sample data.
std::string sourceDir();
