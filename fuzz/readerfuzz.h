#pragma once

// Shared by the converter's reader targets: the input's bytes become a file in a scratch
// folder, a reader opens it, every slice is read (twice, as the converter's range pass does),
// and what comes back must keep the readers' promises.

#include "fuzzsupport.h"
#include "raw.h"
#include "typedsource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

// A scratch folder for the whole run, with a Qt application for the picture plugins, and a
// file "data.raw" of 4 kB beside the inputs for headers that name one.
inline const QString& fuzzFolder() {
    static int argc = 1;
    static char name[] = "fuzzer";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    // An object, not a pointer: the folder goes when the run ends.
    static QTemporaryDir folder(QDir::tempPath() + "/readerfuzz-XXXXXX");
    static const QString path = [] {
        QFile data(folder.filePath("data.raw"));
        data.open(QIODevice::WriteOnly);
        QByteArray bytes(4096, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 37);
        data.write(bytes);
        return folder.path();
    }();
    (void)application;
    return path;
}

inline void writeBytes(const QString& path, const std::uint8_t* data, std::size_t size) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

// A message the converter prints: one line that starts with the file's name, or with that of
// a file beside it that its header names (a data file).
inline void checkMessage(const std::string& message, const QString& path) {
    FUZZ_CHECK(message.rfind(path.toStdString() + ": ", 0) == 0 ||
               message.rfind(QDir(path).path().toStdString(), 0) == 0 ||
               message.rfind(fuzzFolder().toStdString() + "/", 0) == 0);
    FUZZ_CHECK(message.find('\n') == std::string::npos);
}

// Opens path with open and reads all its slices; path names the file in messages.
inline void fuzzReader(const QString& path, const std::function<std::string(TypedSource*)>& open) {
    TypedSource source;
    const std::string failure = open(&source);
    if (!failure.empty()) {
        checkMessage(failure, path);
        return;
    }
    const VolumeInfo& info = source.info;
    FUZZ_CHECK(info.width > 0 && info.height > 0 && info.depth > 0 && info.channels > 0);
    FUZZ_CHECK(info.alphaChannel >= -1 && info.alphaChannel < info.channels);
    for (double spacing : info.spacing)
        FUZZ_CHECK(spacing > 0);
    FUZZ_CHECK(bool(source.read));
    const std::uint64_t slice = sliceBytes(info);
    FUZZ_CHECK(slice > 0);
    // Headers may claim sizes the memory check allows but a fuzzer's run can't read quickly.
    if (slice > (16u << 20) || slice * std::uint64_t(info.depth) > (64u << 20))
        return;
    // Exactly a slice: AddressSanitizer catches any write beyond it. The second pass must
    // rewind and give slice 0 again.
    std::vector<unsigned char> samples(static_cast<std::size_t>(slice)), first;
    for (int pass = 0; pass < 2; ++pass)
        for (int z = 0; z < info.depth; ++z) {
            const std::string message = source.read(z, samples.data());
            if (!message.empty()) {
                checkMessage(message, path);
                return;
            }
            if (z == 0 && pass == 0)
                first = samples;
            else if (z == 0)
                FUZZ_CHECK(samples == first);
        }
}
