// tessary-vol unpack: a volume to PNG slices, a multi-page TIFF, a NRRD or a .npy array.

#include "commands.h"

#include "formattable.h"
#include "text.h"
#include "messages.h"
#include "output.h"
#include "pictures/pictures.h"
#include "slicestream.h"
#include "vol.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {
const char name[] = "unpack";

// The help, its list of outputs made from the table of formats: those with suffixes, then the
// folder.
const char* help() {
    static const std::string text = [] {
        std::string outputs, folder;
        for (const InputFormat& format : inputFormats()) {
            const FormatSink& sink = format.sink;
            std::string suffixes;
            for (const std::string& suffix : sink.suffixes)
                suffixes += (suffixes.empty() ? "." : ", .") + suffix;
            if (sink.open && suffixes.empty())
                folder += formatString("  %-14s%s\n", "no extension", sink.help);
            else if (sink.open)
                outputs += formatString("  %-14s%s\n", suffixes.c_str(), sink.help);
        }
        return "usage: tessary-vol unpack IN.vol -o OUT\n"
               "Writes a volume out, in the kind OUT's extension names:\n" +
               outputs + folder +
               "Slice pictures, TIFF pages and the rows of a .npy start at y = N - 1, the top of "
               "a slice as the viewer shows it; a NRRD places x toward the left, y anterior and "
               "z superior. Packing any of them again gives the volume back.\n";
    }();
    return text.c_str();
}

int runUnpack(const QCommandLineParser& parser) {
    const QString input = parser.positionalArguments()[0];
    const QString output = QDir::cleanPath(parser.value("output")); // "out/" names the folder out
    const FormatSink* writer = sinkFor(output);
    if (!parser.isSet("output"))
        return usageError(name, "-o OUT is required");
    if (!writer)
        return usageError(name, QString::fromStdString("OUT must be " + unpackWrites()));

    const bool folder = writer->suffixes.empty();
    std::string failure = checkOutputPath(output, {input}, folder);
    if (!failure.empty())
        return inputError(failure);
    SliceSource source, cube;
    VolumeHeader header;
    failure = inputMessage(input, openVolumeSource(input, &source, &header));
    if (failure.empty()) {
        source.read = [read = source.read, input](int z, unsigned char* rgb) {
            return inputMessage(input, read(z, rgb));
        };
        failure = fitToCube(source, CubeFit::Refuse, input, &cube);
    }
    SliceSink sink;
    const int n = cube.width;
    if (failure.empty())
        failure = writer->open(output, n, &sink);
    if (failure.empty())
        failure = readingInput(input, [&] { return streamSlices(cube, sink, "unpacking"); });
    if (!failure.empty())
        return inputError(failure);
    std::printf("%s: %d slices of %d x %d\n", qPrintable(output), n, n, n);
    return 0;
}
} // namespace

Command unpackCommand() {
    return {name,
            "unpack IN.vol -o OUT",
            "a volume to PNG slices (a folder), .tif, .nrrd or .npy",
            help(),
            {{"o,output", "OUT", "what to write (required)"}},
            1,
            1,
            runUnpack,
            InputKind::Volumes};
}
