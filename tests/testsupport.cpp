#include "testsupport.h"

#include "fatalerror.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void ensureApplication() {
    static int argc = 1;
    static char name[] = "tessary-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv); // lives until the process ends, like the viewer's
}

namespace {
void throwingNotice(const std::string& message) {
    throw FatalErrorSeen{message};
}
} // namespace

ThrowingFatalNotice::ThrowingFatalNotice() : saved_(setFatalNotice(throwingNotice)) {}

ThrowingFatalNotice::~ThrowingFatalNotice() {
    setFatalNotice(saved_);
}

std::string fatalMessageOf(const std::function<void()>& body) {
    ThrowingFatalNotice notice;
    try {
        body();
    } catch (const FatalErrorSeen& seen) {
        return seen.message;
    }
    ADD_FAILURE() << "expected a fatal error";
    return std::string();
}

ScratchDir::ScratchDir() : previous_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
}

ScratchDir::~ScratchDir() {
    QDir::setCurrent(previous_);
}

std::string ScratchDir::path() const {
    return dir_.path().toStdString();
}

void ScratchDir::write(const std::string& relativePath,
                       const std::vector<unsigned char>& bytes) const {
    const QString full = dir_.filePath(QString::fromStdString(relativePath));
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << relativePath;
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

void ScratchDir::write(const std::string& relativePath, const std::string& text) const {
    write(relativePath, std::vector<unsigned char>(text.begin(), text.end()));
}

void appendInt32(std::vector<unsigned char>& bytes, std::int32_t value) {
    std::uint32_t word;
    std::memcpy(&word, &value, 4);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(word >> (8 * i)));
}

void appendFloat(std::vector<unsigned char>& bytes, float value) {
    std::int32_t word;
    std::memcpy(&word, &value, 4);
    appendInt32(bytes, word);
}

std::vector<unsigned char> volumeFile(std::int32_t size, const std::string& imageName,
                                      const std::vector<unsigned char>& samples,
                                      std::int32_t version, std::int32_t components,
                                      std::int32_t componentType, const char magic[4]) {
    std::vector<unsigned char> bytes(magic, magic + 4);
    appendInt32(bytes, version);
    std::vector<unsigned char> name(260, 0);
    std::memcpy(name.data(), imageName.data(), std::min<std::size_t>(imageName.size(), 260));
    bytes.insert(bytes.end(), name.begin(), name.end());
    appendInt32(bytes, size);
    appendInt32(bytes, components);
    appendInt32(bytes, componentType);
    bytes.resize(4096, 0);
    bytes.insert(bytes.end(), samples.begin(), samples.end());
    return bytes;
}

std::string captureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    std::FILE* capture = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(capture), STDOUT_FILENO);
    try {
        body();
    } catch (...) {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        std::fclose(capture);
        throw;
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    std::rewind(capture);
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, capture)) > 0)
        text.append(chunk, got);
    std::fclose(capture);
    return text;
}

std::string sourceDir() {
    const char* dir = std::getenv("TESSARY_SOURCE_DIR");
    return dir ? dir : ".";
}
