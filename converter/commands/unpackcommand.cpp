// tessary-vol unpack: a volume to PNG slices, a multi-page TIFF, a NRRD or a .npy array.

#include "commands.h"

#include "npy.h"
#include "nrrd.h"
#include "output.h"
#include "pictureslices.h"
#include "tiff.h"
#include "pictures.h"
#include "slicestream.h"
#include "vol.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {
const char name[] = "unpack";

const char help[] = R"(usage: tessary-vol unpack IN.vol -o OUT
Writes a volume out, in the kind OUT's extension names:
  .tif, .tiff   a multi-page TIFF, a page a slice (8-bit RGB, uncompressed)
  .nrrd         a NRRD file (RGB, raw) with the axis kinds, space and spacing that ParaView and
                3D Slicer need to open it as an RGB volume
  .npy          a NumPy uint8 array of shape (N, N, N, 3)
  no extension  a folder of PNG slices, slice_0000.png first (the folder must not exist or
                must be empty)
Slice pictures and TIFF pages show y = N - 1 at the top, as the viewer shows a slice.

options:
  -o, --output OUT          what to write (required)
)";

int runUnpack(const QCommandLineParser& parser) {
    const QString input = parser.positionalArguments()[0];
    const QString output = QDir::cleanPath(parser.value("output")); // "out/" names the folder out
    const QString suffix = QFileInfo(output).suffix().toLower();
    const bool folder = suffix.isEmpty() || QFileInfo(output).isDir();
    if (!parser.isSet("output"))
        return usageError(name, "-o OUT is required");
    if (!folder && suffix != "tif" && suffix != "tiff" && suffix != "nrrd" && suffix != "npy")
        return usageError(name, "OUT must be a folder, .tif, .tiff, .nrrd or .npy");

    std::string failure = checkOutputPath(output, {input}, folder);
    if (!failure.empty())
        return inputError(failure);
    SliceSource source, cube;
    VolumeHeader header;
    failure = openVolumeSource(input, &source, &header);
    if (failure.empty())
        failure = fitToCube(source, CubeFit::Refuse, input, &cube);
    SliceSink sink;
    const int n = cube.width;
    if (failure.empty())
        failure = folder             ? openSliceFolderSink(output, n, &sink)
                  : suffix == "nrrd" ? openNrrdSink(output, n, &sink)
                  : suffix == "npy"  ? openNpySink(output, n, &sink)
                                     : openTiffSink(output, n, &sink);
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
            help,
            {{{"o", "output"}, "output", "OUT"}},
            1,
            1,
            runUnpack};
}
