#include "volcli.h"

#include "contained.h"
#include "helpers.h"
#include "meshimport.h"
#include "npyfile.h"
#include "nrrdfile.h"
#include "output.h"
#include "rawfile.h"
#include "samples.h"
#include "slices.h"
#include "tiffstack.h"
#include "volumestream.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace {
const char overview[] = R"(usage: tessary-vol COMMAND [OPTIONS] ...
Brings volumes and meshes into the Tessary viewer's formats and takes volumes back out.

commands:
  info FILE.vol...            header fields, sizes, reference picture, the viewer's verdict
  check FILE.vol...           refuses what the viewer refuses, with the viewer's messages
  pack INPUT... -o OUT.vol    slices, multi-page TIFF, NRRD, .npy or raw bytes to a volume
  unpack IN.vol -o OUT        a volume to PNG slices (a folder), .tif, .nrrd or .npy
  mesh MODEL -o OUT.dat       a model Assimp reads (OBJ, PLY, STL, glTF, ...) to a mesh
  samples [FOLDER]            the bundled sample volumes (into input/ by default)

'tessary-vol COMMAND --help' tells a command's options. Exit status: 0 done, 1 bad input,
2 bad usage.
)";

const char infoHelp[] = R"(usage: tessary-vol info FILE.vol...
Prints each file's header fields, the sample bytes expected and found, whether its reference
picture exists beside it, and whether the viewer loads it. The GL's 3D texture limit is not
checked (it needs the GL). Exits with 1 when the viewer refuses a file.
)";

const char checkHelp[] = R"(usage: tessary-vol check FILE.vol...
Checks each file as the viewer does before it uploads one, in the viewer's order: that it opens,
the header (magic, version, components, component type, size), that the file holds all the
samples, and that this machine's free memory can hold them. Only the checks that need a GL (the
3D texture limit) are left out. A refused file gives "FILE: message" on standard error and exit
status 1; a good one "FILE: ok" on standard output.
)";

const char packHelp[] = R"(usage: tessary-vol pack INPUT... -o OUT.vol [OPTIONS]
Makes a volume from
  a folder of slice pictures, or a list of them (any format Qt reads; natural order, the first
      is z = 0; a picture's top row is y = N - 1, as the viewer shows a slice),
  a multi-page TIFF (.tif, .tiff; a page a slice, as pictures are),
  a NRRD file (.nrrd, .nhdr; unsigned char, grey or RGB, raw or gzip encoding),
  a NumPy array (.npy; uint8, shape (N, N, N, 3) or (N, N, N), C order, z slowest),
  raw RGB bytes with --size N (3 * N^3 bytes, x fastest, then y, then z).
Grey becomes RGB, alpha is dropped, 16-bit samples are scaled to 8 bits.

options:
  -o, --output OUT.vol      the volume to write (required)
  --size N                  the input is raw RGB bytes of an N^3 volume
  --crop                    a non-cube input is cut to the centred cube of its shortest side
  --pad                     a non-cube input is centred in a black cube of its longest side
  --name NAME               the header's picture name (default: OUT's name without .vol)
  --reference PICTURE       copies PICTURE beside OUT as NAME.png (other formats become PNG)
  --reference-slice K       writes slice z = K beside OUT as NAME.png
)";

const char unpackHelp[] = R"(usage: tessary-vol unpack IN.vol -o OUT
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

const char meshHelp[] = R"(usage: tessary-vol mesh MODEL -o OUT.dat [OPTIONS]
Converts a model in any format Assimp reads (OBJ, PLY, STL, glTF, ...) to the viewer's .dat
mesh: every mesh of the file with its transforms applied, faces triangulated, points and lines
dropped, identical vertices joined. Vertices without normals get area-weighted ones. Each
closed part is turned to face outward, whatever the file's winding and normals say. The model
is centred on its bounding box and scaled to unit radius, as the bundled bunny is.
The importer runs in a child process under a memory and a time limit; the model and the files
it names must be regular files in the model's folder or below it.

options:
  -o, --output OUT.dat      the mesh to write (required)
  --recompute-normals       ignores the file's normals and computes area-weighted ones
  --keep-scale              keeps the file's positions and units
  --up AXIS                 the file's axis that points up: x, y (default), z, -x, -y, -z
                            (CAD and scanner files are often z-up)
  --memory-limit MB         the importer's address space in MiB (default: the smaller of
                            4096 and half the available memory)
  --timeout SECONDS         the importer's time (default: 60)
)";

const char samplesHelp[] = R"(usage: tessary-vol samples [FOLDER] [--force]
Writes the bundled sample volumes and their reference pictures into FOLDER (default: input):
axes (N = 32), marble (128), wood (64), granite (45) and cells (256). The same bytes every run.
A volume whose .vol and .png both exist is kept unless --force.
)";

int usageError(const QString& command, const QString& message) {
    std::fprintf(stderr, "tessary-vol %s: %s\nTry 'tessary-vol %s --help'.\n", qPrintable(command),
                 qPrintable(message), qPrintable(command));
    return 2;
}

int inputError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

// Parses a command's arguments (its name first). Returns -1 to go on, else the exit status:
// 0 after --help, 2 for bad usage.
int parseCommand(QCommandLineParser* parser, const QStringList& arguments, const char* help,
                 int minPositional, int maxPositional) {
    parser->addOption({{"h", "help"}, "help"});
    if (!parser->parse(arguments))
        return usageError(arguments[0], parser->errorText());
    if (parser->isSet("help")) {
        std::fputs(help, stdout);
        return 0;
    }
    const qsizetype count = parser->positionalArguments().size();
    if (count < minPositional || (maxPositional >= 0 && count > maxPositional))
        return usageError(arguments[0],
                          count < minPositional ? "missing input" : "too many inputs");
    return -1;
}

// The checks the viewer makes before any GL call, in its order: header, length, memory.
std::string viewerRefusal(std::FILE* file, VolumeHeader* header) {
    std::string failure = readVolumeHeader(file, header);
    if (failure.empty())
        failure = checkVolumeLength(file, header->size);
    if (failure.empty())
        failure = checkVolumeMemory(header->size, availableMemory());
    return failure;
}

// What info prints of one file; failure is the viewer's verdict.
void printReport(const QString& path, bool opened, long length, const VolumeHeader& header,
                 const std::string& failure) {
    std::printf("%s\n", qPrintable(path));
    if (opened && failure != "bad header: invalid magic") {
        std::printf("  version          %d\n  name             %s\n  size N           %d\n"
                    "  components       %d\n  component type   %d\n",
                    header.version, header.name.c_str(), header.size, header.components,
                    header.componentType);
        if (header.size > 0 && header.size <= volumeLayout::maxSize)
            std::printf("  sample bytes     %llu expected, %ld found\n",
                        static_cast<unsigned long long>(volumeSampleBytes(header.size)),
                        std::max(0L, length - volumeLayout::headerSize));
        const QString picture =
            QFileInfo(path).dir().filePath(QString::fromStdString(header.name) + ".png");
        if (isSafePictureName(header.name))
            std::printf("  picture          %s (%s)\n", qPrintable(picture),
                        QFileInfo(picture).isFile() ? "found" : "missing");
        else
            std::printf("  picture          none: the name leaves the folder\n");
    } else if (opened) {
        std::printf("  file bytes       %ld\n", length);
    }
    if (failure.empty())
        std::printf("  viewer           loads it (the GL's 3D texture limit unchecked)\n");
    else
        std::printf("  viewer           refuses it: %s\n", failure.c_str());
}

int runCheck(const QStringList& arguments, bool report) {
    QCommandLineParser parser;
    const int status = parseCommand(&parser, arguments, report ? infoHelp : checkHelp, 1, -1);
    if (status >= 0)
        return status;
    int result = 0;
    for (const QString& path : parser.positionalArguments()) {
        FileHandle file = openFile(QFile::encodeName(path).constData(), "rb");
        VolumeHeader header;
        const long length = file ? remainingBytes(file.get()) : -1;
        const std::string failure =
            file ? viewerRefusal(file.get(), &header) : std::string("can't open input file");
        if (!failure.empty())
            result = inputError(fileMessage(path, failure));
        if (report)
            printReport(path, bool(file), length, header, failure);
        else if (failure.empty())
            std::printf("%s: ok\n", qPrintable(path));
    }
    return result;
}

// The PNG bytes of the picture at path: its own bytes when it is a PNG, else converted.
std::string referenceBytes(const QString& path, QByteArray* png) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return path.toStdString() + ": can't open input file";
    *png = file.readAll();
    QBuffer buffer(png);
    QImageReader reader(&buffer);
    QImage image;
    if (!reader.read(&image))
        return path.toStdString() + ": can't read picture: " + reader.errorString().toStdString();
    if (reader.format() != "png") {
        png->clear();
        QBuffer converted(png);
        converted.open(QIODevice::WriteOnly);
        image.save(&converted, "PNG");
    }
    return std::string();
}

// The source that pack's inputs name: raw bytes with --size (rawSize > 0), else by the one
// input's extension, else slice pictures.
std::string openPackInput(const QStringList& inputs, int rawSize, SliceSource* source) {
    const QString suffix = QFileInfo(inputs[0]).suffix().toLower();
    const bool single = inputs.size() == 1 && !QFileInfo(inputs[0]).isDir();
    if (rawSize > 0)
        return openRawVolume(inputs[0], rawSize, source);
    if (single && (suffix == "tif" || suffix == "tiff"))
        return openTiffSource(inputs[0], source);
    if (single && (suffix == "nrrd" || suffix == "nhdr"))
        return openNrrdSource(inputs[0], source);
    if (single && suffix == "npy")
        return openNpySource(inputs[0], source);
    QStringList files;
    const std::string failure = listSliceFiles(inputs, &files);
    return failure.empty() ? openSliceSource(files, source) : failure;
}

// The volume's sink with its reference picture: the given PNG bytes, or slice pictureSlice
// (when not negative) as it passes. The picture is written just before the volume is committed,
// so a failed pack leaves neither.
SliceSink withPicture(const SliceSink& volume, int n, int pictureSlice,
                      std::shared_ptr<QByteArray> picture, const QString& picturePath) {
    auto z = std::make_shared<int>(0);
    SliceSink sink;
    sink.write = [=](const unsigned char* rgb) {
        if ((*z)++ == pictureSlice) {
            QBuffer buffer(picture.get());
            buffer.open(QIODevice::WriteOnly);
            slicePicture(rgb, n, n).save(&buffer, "PNG");
        }
        return volume.write(rgb);
    };
    sink.commit = [=] {
        if (!picture->isEmpty()) {
            QSaveFile file(picturePath);
            if (!file.open(QIODevice::WriteOnly) || file.write(*picture) != picture->size())
                return writeFailure(picturePath, file.errorString());
            const std::string failure = commitSaveFile(&file, picturePath);
            if (!failure.empty())
                return failure;
        }
        return volume.commit();
    };
    return sink;
}

int runPack(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOptions({{{"o", "output"}, "output", "OUT"},
                       {"size", "raw size", "N"},
                       {"crop", "crop"},
                       {"pad", "pad"},
                       {"name", "name", "NAME"},
                       {"reference", "picture", "PICTURE"},
                       {"reference-slice", "slice", "K"}});
    const int status = parseCommand(&parser, arguments, packHelp, 1, -1);
    if (status >= 0)
        return status;
    const QStringList inputs = parser.positionalArguments();
    const QString output = parser.value("output");
    const QString name =
        parser.isSet("name") ? parser.value("name") : QFileInfo(output).completeBaseName();
    bool sizeGood = true, sliceGood = true;
    const int size = parser.isSet("size") ? parser.value("size").toInt(&sizeGood) : 0;
    const int pictureSlice =
        parser.isSet("reference-slice") ? parser.value("reference-slice").toInt(&sliceGood) : -1;
    if (!output.endsWith(".vol"))
        return usageError(arguments[0], "-o OUT.vol is required");
    if (parser.isSet("crop") && parser.isSet("pad"))
        return usageError(arguments[0], "--crop and --pad exclude each other");
    if (parser.isSet("reference") && parser.isSet("reference-slice"))
        return usageError(arguments[0], "--reference and --reference-slice exclude each other");
    if (parser.isSet("size") &&
        (!sizeGood || size < 1 || size > volumeLayout::maxSize || inputs.size() != 1))
        return usageError(arguments[0], "--size takes a positive N and one raw input file");
    if (!parser.isSet("size") && inputs.size() == 1 && inputs[0].toLower().endsWith(".raw"))
        return usageError(arguments[0], "raw input needs --size N");
    if (!sliceGood || (parser.isSet("reference-slice") && pictureSlice < 0))
        return usageError(arguments[0], "--reference-slice takes a slice number from 0");
    if (!isUsableVolumeName(name))
        return usageError(arguments[0], "the picture name '" + name +
                                            "' must be 1 to 259 bytes and stay in the folder");

    SliceSource source, cube;
    const CubeFit fit = parser.isSet("crop")  ? CubeFit::Crop
                        : parser.isSet("pad") ? CubeFit::Pad
                                              : CubeFit::Refuse;
    std::string failure = openPackInput(inputs, size, &source);
    if (failure.empty())
        failure =
            fitToCube(source, fit, inputs.size() == 1 ? inputs[0] : inputs[0] + " ...", &cube);
    if (!failure.empty())
        return inputError(failure);
    const int n = cube.width;
    if (pictureSlice >= n)
        return usageError(
            arguments[0],
            QString("--reference-slice %1: the slices are 0 to %2").arg(pictureSlice).arg(n - 1));

    auto picture = std::make_shared<QByteArray>();
    if (parser.isSet("reference"))
        failure = referenceBytes(parser.value("reference"), picture.get());
    VolumeHeader header;
    header.name = name.toLocal8Bit().toStdString();
    header.size = n;
    SliceSink volume;
    if (failure.empty())
        failure = openVolumeSink(output, header, &volume);
    if (failure.empty())
        failure = streamSlices(cube,
                               withPicture(volume, n, pictureSlice, picture,
                                           QFileInfo(output).dir().filePath(name + ".png")),
                               "packing");
    if (!failure.empty())
        return inputError(failure);
    std::printf("%s: N = %d from %d x %d x %d samples\n", qPrintable(output), n, source.width,
                source.height, source.depth);
    return 0;
}

int runUnpack(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOption({{"o", "output"}, "output", "OUT"});
    const int status = parseCommand(&parser, arguments, unpackHelp, 1, 1);
    if (status >= 0)
        return status;
    const QString input = parser.positionalArguments()[0];
    const QString output = QDir::cleanPath(parser.value("output")); // "out/" names the folder out
    const QString suffix = QFileInfo(output).suffix().toLower();
    const bool folder = suffix.isEmpty() || QFileInfo(output).isDir();
    if (!parser.isSet("output"))
        return usageError(arguments[0], "-o OUT is required");
    if (!folder && suffix != "tif" && suffix != "tiff" && suffix != "nrrd" && suffix != "npy")
        return usageError(arguments[0], "OUT must be a folder, .tif, .tiff, .nrrd or .npy");

    SliceSource source, cube;
    VolumeHeader header;
    std::string failure = openVolumeSource(input, &source, &header);
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
        failure = streamSlices(cube, sink, "unpacking");
    if (!failure.empty())
        return inputError(failure);
    std::printf("%s: %d slices of %d x %d\n", qPrintable(output), n, n, n);
    return 0;
}

int runMesh(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOptions({{{"o", "output"}, "output", "OUT"},
                       {"recompute-normals", "normals"},
                       {"keep-scale", "scale"},
                       {"up", "up", "AXIS"},
                       {"memory-limit", "memory", "MB"},
                       {"timeout", "time", "SECONDS"}});
    const int status = parseCommand(&parser, arguments, meshHelp, 1, 1);
    if (status >= 0)
        return status;
    const QString input = parser.positionalArguments()[0];
    const QString output = parser.value("output");
    if (!output.endsWith(".dat"))
        return usageError(arguments[0], "-o OUT.dat is required");
    MeshImportOptions options;
    options.recomputeNormals = parser.isSet("recompute-normals");
    options.keepScale = parser.isSet("keep-scale");
    if (parser.isSet("up") && !parseUpAxis(parser.value("up").toStdString(), &options.up))
        return usageError(arguments[0], "--up takes x, y, z, -x, -y or -z");
    options.memoryLimit = defaultMemoryLimit();
    options.timeoutSeconds = 60;
    bool valid = true;
    if (parser.isSet("memory-limit")) {
        const qulonglong mib = parser.value("memory-limit").toULongLong(&valid);
        valid = valid && mib >= 1 && mib <= (qulonglong(1) << 30);
        options.memoryLimit = std::uint64_t(mib) << 20;
    }
    if (!valid)
        return usageError(arguments[0], "--memory-limit takes a size in MiB, 1 or more");
    if (parser.isSet("timeout")) {
        options.timeoutSeconds = parser.value("timeout").toInt(&valid);
        if (!valid || options.timeoutSeconds < 1 || options.timeoutSeconds > 86400)
            return usageError(arguments[0], "--timeout takes seconds, 1 to 86400");
    }
    MeshData mesh;
    std::string failure =
        importMeshContained(QFile::encodeName(input).toStdString(), options, &mesh);
    if (!failure.empty())
        return inputError(failure);
    const std::vector<unsigned char> bytes = encodeMesh(mesh);
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
            qint64(bytes.size()))
        return inputError(writeFailure(output, file.errorString()));
    failure = commitSaveFile(&file, output);
    if (!failure.empty())
        return inputError(failure);
    float low[3], high[3];
    meshBounds(mesh, low, high);
    std::printf("%s: %d vertices, %d triangles, min (%.3f, %.3f, %.3f) max (%.3f, %.3f, %.3f)\n",
                qPrintable(output), mesh.vertexCount, mesh.triangleCount, low[0], low[1], low[2],
                high[0], high[1], high[2]);
    return 0;
}

int runSamples(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOption({"force", "force"});
    const int status = parseCommand(&parser, arguments, samplesHelp, 0, 1);
    if (status >= 0)
        return status;
    const QStringList folder = parser.positionalArguments();
    const std::string failure =
        writeSamples(folder.isEmpty() ? QString("input") : folder[0], parser.isSet("force"));
    return failure.empty() ? 0 : inputError(failure);
}
} // namespace

int runVolumeTool(const QStringList& arguments) {
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(1); // the command's name first, as a parser wants
    try {
        if (command == "info" || command == "check")
            return runCheck(rest, command == "info");
        if (command == "pack")
            return runPack(rest);
        if (command == "unpack")
            return runUnpack(rest);
        if (command == "mesh")
            return runMesh(rest);
        if (command == "samples")
            return runSamples(rest);
    } catch (const std::bad_alloc&) {
        return inputError("tessary-vol " + command.toStdString() + ": out of memory");
    }
    if (command == "-h" || command == "--help") {
        std::fputs(overview, stdout);
        return 0;
    }
    std::fputs(overview, stderr);
    return 2;
}
