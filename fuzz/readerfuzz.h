#pragma once

// Shared by the converter's reader targets: the input's bytes become a file in a scratch
// folder, which is opened through the converter's door, every slice read twice, and what comes
// back must keep the readers' promises (readercheck.h).

#include "fuzzsupport.h"
#include "readercheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

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

// Opens path (a file or a folder) as pack does and reads all its slices; returns the refusal,
// if any.
inline std::string fuzzReader(const QString& path, const InputSelection& selection = {}) {
    const ReaderOutcome outcome = checkReader({path}, selection, fuzzFolder());
    if (!outcome.broken.empty())
        std::fprintf(stderr, "%s\n", outcome.broken.c_str());
    FUZZ_CHECK(outcome.broken.empty());
    return outcome.refusal;
}
