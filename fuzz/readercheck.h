#pragma once

// The promises every reader keeps, whatever a file holds, checked by the fuzz targets of the
// converter's readers and by the formats test alike: an input opened through the door is
// either refused in one line that names a file, or described by sane sizes and read in full
// twice (as the converter's range pass does), the second pass giving slice 0 again.

#include "formattable.h"
#include "storedsamples.h"

#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

struct ReaderOutcome {
    std::string broken;  // the promise broken, or ""
    std::string refusal; // the one line of a refusal, on opening or reading, or ""
};

// A refusal names the input (its first path) or, where beside is given, a file in that folder
// (a data file a header names); with beside empty, any "PATH: " will do.
inline bool namesAFile(const std::string& message, const QStringList& paths,
                       const QString& beside) {
    const std::string input = paths.value(0).toStdString();
    if (message.rfind(input + ": ", 0) == 0 || message.rfind(input + "/", 0) == 0)
        return true;
    if (!beside.isEmpty())
        return message.rfind(beside.toStdString() + "/", 0) == 0;
    return message.find(": ") != std::string::npos;
}

inline ReaderOutcome checkReader(const QStringList& paths, const InputSelection& selection,
                                 const QString& beside = QString()) {
    ReaderOutcome outcome;
    const auto refused = [&](const std::string& message) {
        outcome.refusal = message;
        if (message.empty() || message.find('\n') != std::string::npos ||
            !namesAFile(message, paths, beside))
            outcome.broken = "a refusal not in one line naming a file: " + message;
        return outcome;
    };
    TypedSource source;
    const std::string failure = openPackInput(paths, selection, &source);
    if (!failure.empty())
        return refused(failure);
    const VolumeInfo& info = source.info;
    bool sane = info.width > 0 && info.height > 0 && info.depth > 0 && info.channels > 0 &&
                info.alphaChannel >= -1 && info.alphaChannel < info.channels && bool(source.read) &&
                sliceBytes(info) > 0;
    for (double spacing : info.spacing)
        sane = sane && spacing > 0;
    if (!sane) {
        outcome.broken = "insane sizes, spacing or channels";
        return outcome;
    }
    // Headers may claim sizes the memory check allows but a fuzzer's run can't read quickly.
    const std::uint64_t slice = sliceBytes(info);
    if (slice > (16u << 20) || slice * std::uint64_t(info.depth) > (64u << 20))
        return outcome;
    // Exactly a slice: AddressSanitizer catches any write beyond it.
    std::vector<unsigned char> samples(static_cast<std::size_t>(slice)), first;
    for (int pass = 0; pass < 2; ++pass)
        for (int z = 0; z < info.depth; ++z) {
            const std::string message = source.read(z, samples.data());
            if (!message.empty())
                return refused(message);
            if (z == 0 && pass == 0)
                first = samples;
            else if (z == 0 && samples != first)
                outcome.broken = "slice 0 differs on the second pass";
        }
    return outcome;
}
