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

// What info prints of one file: file is the open file (null when it did not open), failure the
// viewer's verdict. The name field is the file's own text, so its control characters are shown
// escaped.
void printReport(const QString& path, std::FILE* file, const VolumeHeader& header,
                 const std::string& failure) {
    std::printf("%s\n", printableText(path.toStdString()).c_str());
    long length = -1;
    bool magic = false;
    if (file) {
        unsigned char block[volumeLayout::headerSize];
        std::rewind(file);
        magic = hasVolumeMagic(block, std::fread(block, 1, sizeof block, file));
        std::rewind(file);
        length = remainingBytes(file);
    }
    if (magic) {
        std::printf("  version          %d\n  name             %s\n  size N           %d\n"
                    "  components       %d\n  component type   %d\n",
                    header.version, printableText(header.name).c_str(), header.size,
                    header.components, header.componentType);
        if (header.size > 0 && header.size <= volumeLayout::maxSize)
            std::printf("  sample bytes     %llu expected, %ld found\n",
                        static_cast<unsigned long long>(volumeSampleBytes(header.size)),
                        std::max(0L, length - volumeLayout::headerSize));
        const QString picture =
            QFileInfo(path).dir().filePath(QString::fromStdString(header.name) + ".png");
        if (isSafePictureName(header.name))
            std::printf("  picture          %s (%s)\n",
                        printableText(picture.toStdString()).c_str(),
                        QFileInfo(picture).isFile() ? "found" : "missing");
        else
            std::printf("  picture          none: the name leaves the folder\n");
    } else if (file) {
        std::printf("  file bytes       %ld\n", length);
    }
    if (failure.empty())
        std::printf("  viewer           loads it (the GL's 3D texture limit unchecked)\n");
    else
        std::printf("  viewer           refuses it: %s\n", failure.c_str());
}

// Checks every input as the viewer does, without its GL step; with report, prints info's lines
// about each.
int checkFiles(const QCommandLineParser& parser, bool report) {
    int result = 0;
    for (const QString& path : parser.positionalArguments()) {
        FileHandle file;
        VolumeHeader header;
        const std::string failure = checkVolumeFile(QFile::encodeName(path).constData(), nullptr,
                                                    availableMemory(), &file, &header);
        if (!failure.empty())
            result = inputError(fileMessage(path, failure));
        if (report)
            printReport(path, file.get(), header, failure);
        else if (failure.empty())
            std::printf("%s\n", fileMessage(path, "ok").c_str());
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
