#pragma once

// Shared by the typed readers' fuzz targets: the input becomes a file in a scratch folder (the
// readers open files by name), the reader opens it, and every slice is read twice.

#include "fuzzsupport.h"
#include "typedsource.h"

#include <QDir>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// The scratch folder, made once per process; a data.raw file lies beside each input so that
// headers naming it reach the data reader.
inline const QString& fuzzFolder() {
    static const QString folder = [] {
        char pattern[] = "/tmp/tessary-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern));
        const QString path = QString::fromLocal8Bit(pattern);
        FileHandle data = openFile((path + "/data.raw").toLocal8Bit().constData(), "wb");
        FUZZ_CHECK(data);
        for (int i = 0; i < 4096; ++i)
            std::fputc(i * 37 & 0xff, data.get());
        return path;
    }();
    return folder;
}

// Writes the input to NAME in the scratch folder and returns its path.
inline QString writeInput(const char* name, const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzFolder() + "/" + name;
    FileHandle file = openFile(path.toLocal8Bit().constData(), "wb");
    FUZZ_CHECK(file);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file.get()) == size);
    return path;
}

// Checks the open's result and, when it succeeded, reads every slice (up to a memory bound the
// target sets for itself) and slice 0 once more, which must come back the same.
inline void checkSource(const QString& path, const std::string& failure,
                        const TypedSource& source) {
    const std::string name = path.toStdString();
    if (!failure.empty()) {
        FUZZ_CHECK(failure.find('\n') == std::string::npos);
        FUZZ_CHECK(failure.compare(0, name.size(), name) == 0 || failure[0] == '/');
        return;
    }
    const VolumeInfo& info = source.info;
    FUZZ_CHECK(info.width > 0 && info.height > 0 && info.depth > 0);
    FUZZ_CHECK(info.channels > 0 && info.channels <= 64);
    FUZZ_CHECK(info.alphaChannel >= -1 && info.alphaChannel < info.channels);
    for (double spacing : info.spacing)
        FUZZ_CHECK(spacing > 0);
    const std::size_t slice = std::size_t(info.width) * std::size_t(info.height) *
                              std::size_t(info.channels) * sampleTypeBytes(info.type);
    // Large claims are the readers' to refuse, not this target's to allocate.
    if (slice > (std::size_t(1) << 22))
        return;
    const int depth = std::min(info.depth, int((std::size_t(1) << 24) / slice) + 1);
    std::vector<unsigned char> first(slice), samples(slice);
    for (int z = 0; z < depth; ++z) {
        const std::string message = source.read(z, z == 0 ? first.data() : samples.data());
        if (!message.empty()) {
            FUZZ_CHECK(message.find('\n') == std::string::npos);
            return;
        }
    }
    if (source.read(0, samples.data()).empty())
        FUZZ_CHECK(std::memcmp(first.data(), samples.data(), slice) == 0);
}
