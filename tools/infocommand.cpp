// tessary-vol info and check: the viewer's verdict on .vol files, without a GL.

#include "commands.h"

#include "helpers.h"
#include "output.h"
#include "volumefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {
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

// Checks every input; with report, prints info's lines about each.
int checkFiles(const QCommandLineParser& parser, bool report) {
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
} // namespace

Command infoCommand() {
    return {"info",
            "info FILE.vol...",
            "header fields, sizes, reference picture, the viewer's verdict",
            infoHelp,
            {},
            1,
            -1,
            [](const QCommandLineParser& parser) { return checkFiles(parser, true); }};
}

Command checkCommand() {
    return {"check",
            "check FILE.vol...",
            "refuses what the viewer refuses, with the viewer's messages",
            checkHelp,
            {},
            1,
            -1,
            [](const QCommandLineParser& parser) { return checkFiles(parser, false); }};
}
