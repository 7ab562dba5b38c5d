#pragma once

#include "fatalerror.h"
#include "scratchdir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>

// The process-wide QApplication the Qt-using tests need; created on first use.
void ensureApplication();

// Thrown by the test notice in place of ending the process; what() is the message.
struct FatalErrorSeen : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// While alive, fatal errors throw FatalErrorSeen instead of showing a box and exiting.
struct ThrowingFatalNotice {
    ThrowingFatalNotice()
        : saved(setFatalNotice([](const std::string& m) { throw FatalErrorSeen(m); })) {}
    ~ThrowingFatalNotice() { setFatalNotice(saved); }
    FatalNotice saved; // put back on destruction
};

// The message of the fatal error body raises; fails the test and returns "" when none.
inline std::string fatalMessageOf(const std::function<void()>& body) {
    try {
        ThrowingFatalNotice notice;
        body();
    } catch (const FatalErrorSeen& seen) {
        return seen.what();
    }
    ADD_FAILURE() << "expected a fatal error";
    return "";
}

// Writes a file relative to the working directory, creating sub-folders as needed.
inline void writeFile(const std::string& name, const std::string& bytes) {
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly))
        << name;
    file.write(bytes.data(), qint64(bytes.size()));
}
inline void writeFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    writeFile(name, std::string(bytes.begin(), bytes.end()));
}

// Appends a 4-byte value (int32 or float) as the little-endian host stores it.
template <typename T> void append32(std::vector<unsigned char>& bytes, T value) {
    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
    bytes.insert(bytes.end(), raw, raw + 4);
}

// A .vol file: the 4096-byte header with the given fields, then the given sample bytes.
inline std::vector<unsigned char> volumeFile(std::int32_t size, const std::string& imageName,
                                             const std::vector<unsigned char>& samples,
                                             std::int32_t version = 4, std::int32_t components = 3,
                                             std::int32_t componentType = 1,
                                             const char magic[4] = "VOLU") {
    std::vector<unsigned char> bytes(magic, magic + 4);
    append32(bytes, version);
    bytes.insert(bytes.end(), imageName.begin(), imageName.end());
    bytes.resize(8 + 260, 0); // the name field, NUL-padded or cut
    for (std::int32_t field : {size, components, componentType})
        append32(bytes, field);
    bytes.resize(4096, 0);
    bytes.insert(bytes.end(), samples.begin(), samples.end());
    return bytes;
}

// Runs body with standard output redirected and returns what it printed.
inline std::string captureStdout(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    try {
        body();
    } catch (...) {
        testing::internal::GetCapturedStdout(); // puts standard output back
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

// The repository root, for the shaders and sample data.
inline std::string sourceDir() {
    return qEnvironmentVariable("TESSARY_SOURCE_DIR", ".").toStdString();
}
