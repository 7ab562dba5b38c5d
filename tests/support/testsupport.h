#pragma once

#include "meshfiles.h"
#include "volfiles.h"
#include "fatalerror.h"
#include "files.h"
#include "text.h"
#include "scratchdir.h"
#include "volumefile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <functional>

// The process-wide QApplication the Qt-using tests need; created on first use.
void ensureApplication();

// Thrown in place of ending the process while a ThrowingFatalNotice lives; what() is the message.
struct FatalErrorSeen : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ThrowingFatalNotice {
    ThrowingFatalNotice()
        : saved(setFatalNotice([](const std::string& m) { throw FatalErrorSeen(m); })) {}
    ~ThrowingFatalNotice() { setFatalNotice(saved); }
    FatalNotice saved;
};

// Runs atExit when the scope ends, however it ends: a failed ASSERT returns from the test
// early, and shared state it changed must still be put back for the tests after it.
struct ScopeExit {
    std::function<void()> atExit;
    ~ScopeExit() { atExit(); }
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
void writeFile(const std::string& name, const std::string& bytes);
inline void writeFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    writeFile(name, std::string(bytes.begin(), bytes.end()));
}

// What a user may leave where a file is expected: a directory or a FIFO (opening a FIFO
// that nobody writes to blocks a plain fopen forever).
enum class NotAFile { Directory, Fifo };
void makeNotAFile(const std::string& path, NotAFile kind);

// N^3 samples of a pattern that repeats no byte at any short stride, so a slip shows.
inline std::vector<unsigned char> samplePattern(int n) {
    std::vector<unsigned char> bytes(volumeSampleBytes(n));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 37 + i / 7);
    return bytes;
}

// A picture of one colour.
QImage filledPicture(int width, int height, const QColor& colour,
                     QImage::Format format = QImage::Format_RGB888);

// A whole PNG of the picture, as Qt writes it: signature, IHDR, IDAT..., IEND.
std::string pngBytes(const QImage& picture);

// Copies the viewer's shaders and bunny mesh from the source tree into the working directory.
void copyViewerFiles();

// Appends a 4-byte value (int32 or float) as the little-endian host stores it.
template <typename T> void append32(std::vector<unsigned char>& bytes, T value) {
    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
    bytes.insert(bytes.end(), raw, raw + 4);
}

// A .vol file: the header block with the given fields, then the given sample bytes.
inline std::vector<unsigned char> volumeFile(std::int32_t size, const std::string& imageName,
                                             const std::vector<unsigned char>& samples,
                                             std::int32_t version = 4, std::int32_t components = 3,
                                             std::int32_t componentType = 1) {
    const std::string bytes = volBytes({version, imageName, size, components, componentType},
                                       std::string(samples.begin(), samples.end()));
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// The samples of a .vol as the viewer's codec reads them; empty when it refuses the file.
std::vector<unsigned char> loadedSamples(const char* path);

// A .dat mesh file: the counts, each position with the normal (0, 0, 1), then the indices.
inline std::vector<unsigned char> meshFile(int v, int t, const std::vector<float>& xyz,
                                           const std::vector<int>& indices) {
    std::vector<MeshVertex> vertices;
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3)
        vertices.push_back({{xyz[i], xyz[i + 1], xyz[i + 2]}, {0, 0, 1}});
    const std::string bytes =
        meshBytes(v, t, vertices, std::vector<std::uint32_t>(indices.begin(), indices.end()));
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// A stream positioned at the start of the given bytes (also of none, unlike fmemopen).
inline FileHandle streamOf(const std::vector<unsigned char>& bytes) {
    FileHandle file(std::tmpfile());
    if (file && !bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    if (file)
        std::rewind(file.get());
    return file;
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

// The whole file, or "" when it can't be read.
std::string fileBytes(const QString& path);

// The bytes gzip -c makes of bytes: one member.
std::string gzip(const std::string& bytes);

// bytes compressed with zlib (the zlib format, as MetaImage and NRRD store them).
std::string zlibBytes(const std::string& bytes);
