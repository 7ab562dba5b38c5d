// tessary-vol info and check: the viewer's verdict on .vol files, without a GL, and what any
// other input pack reads holds and would become.

#include "commands.h"

#include "files.h"
#include "systemmemory.h"
#include "text.h"
#include "image.h"
#include "output.h"
#include "formattable.h"
#include "packoptions.h"
#include "packplan.h"
#include "volumefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
const char infoHelp[] = R"(usage: tessary-vol info INPUT... [OPTIONS]
For a .vol file, prints its header fields, the sample bytes expected and found, whether the
viewer shows its reference picture (loaded as the viewer loads it), and whether the viewer loads
the volume. The GL's 3D texture limit is not checked (it needs the GL). Exits with 1 when the
viewer refuses a file.

For any other input pack reads (every format pack --help lists), prints its format, sizes, sample
type, channels (and which is alpha), spacing, orientation, the size of the volume pack would
write and the memory packing holds, the range of its values (from a pass over the samples), and
what pack would make of it: the window, the channel map, any resampling and N. Exits with 1 when
pack would refuse it. It takes pack's options that shape the conversion, to tell what pack would
do with them.
)";

const char checkHelp[] = R"(usage: tessary-vol check FILE.vol...
Checks each file as the viewer does before it uploads one, in the viewer's order: that it opens,
the header (magic, version, components, component type, size), that the file holds all the
samples, and that this machine's free memory can hold them. Only the checks that need a GL (the
3D texture limit) are left out. A refused file gives "FILE: message" on standard error and exit
status 1; a good one "FILE: ok" on standard output, followed by whether the viewer shows its
reference picture ("; picture input/NAME.png: shown, 256 x 256 pixels", or why not).
)";

// Whether the viewer shows the volume's picture, loaded as the viewer loads it: "PATH: shown,
// W x H pixels", "PATH: missing", "PATH: not shown: REASON", or why there is none.
std::string pictureVerdict(const QString& volumePath, const VolumeHeader& header) {
    if (!isSafePictureName(header.name))
        return "none: the name leaves the folder";
    const QString path =
        QFileInfo(volumePath).dir().filePath(QString::fromStdString(header.name) + ".png");
    const std::string shown = printableText(path.toStdString());
    if (!QFileInfo(path).exists())
        return shown + ": missing";
    Image picture;
    const std::string problem = loadPicture(QFile::encodeName(path).toStdString(), &picture);
    if (!problem.empty())
        return shown + ": not shown: " + problem;
    return shown + formatString(": shown, %d x %d pixels", picture.width, picture.height);
}

// "; N = 600 is above ..." for a volume larger than most GL drivers hold, else "".
std::string largeVolumeText(const VolumeHeader& header) {
    const std::string note = textureSizeNote(header.size);
    return note.empty() ? note : "; " + note;
}

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
        std::printf("  picture          %s\n", pictureVerdict(path, header).c_str());
    } else if (file) {
        std::printf("  file bytes       %ld\n", length);
    }
    if (failure.empty())
        std::printf("  viewer           loads it (the GL's 3D texture limit unchecked)%s\n",
                    magic ? largeVolumeText(header).c_str() : "");
    else
        std::printf("  viewer           refuses it: %s\n", failure.c_str());
}

// The spacing as far as the file gives it: "?" for an axis it leaves out.
std::string spacingText(const VolumeInfo& info) {
    const std::string unit = info.spacingUnit.empty() ? "" : " " + info.spacingUnit;
    if (info.spacingKnown)
        return formatString("%g, %g, %g", info.spacing[0], info.spacing[1], info.spacing[2]) + unit;
    std::string values, missing;
    for (int k = 0; k < 3; ++k) {
        const bool known = info.axisSpacingKnown[k];
        values += (k ? ", " : "") + (known ? formatString("%g", info.spacing[k]) : "?");
        if (!known)
            missing += std::string(missing.empty() ? "" : "/") + "xyz"[k];
    }
    const std::string note = info.spacingNote.empty() ? "" : "; " + info.spacingNote;
    if (missing == "x/y/z")
        return "not in the file" + note;
    return values + unit + " (" + missing + " not in the file" + note + ")";
}

// The levels of a pyramid, the one pack reads marked; without --size, the largest N at which
// --size N reads each coarser level.
void printLevels(const VolumeInfo& info, int size) {
    for (std::size_t l = 0; l < info.levels.size(); ++l) {
        const PyramidLevel& level = info.levels[l];
        std::string note = int(l) == info.level ? "  (pack reads it)" : "";
        const long long largest = pyramidLevelSide(info.levels, int(l));
        if (size == 0 && l > 0 && largest > 0 &&
            pickPyramidLevel(info.levels, int(largest)) == int(l))
            note = formatString("  (--size %lld reads it)", largest);
        std::printf("  level %-10zu %s: %d x %d x %d, spacing %g, %g, %g%s\n", l,
                    printableText(level.name).c_str(), level.sizes[0], level.sizes[1],
                    level.sizes[2], level.spacing[0], level.spacing[1], level.spacing[2],
                    note.c_str());
    }
}

// What info prints of an input pack reads: what the file holds, the range of its samples and
// what pack would make of it with the given settings. Returns the exit status.
int reportInput(const QString& path, PackSettings settings) {
    TypedSource source;
    PackPlan plan;
    settings.measureRange = true;
    std::string failure = openPackInput({path}, settings.pick, &source);
    if (!failure.empty()) {
        const InputFormat* format = inputFormatOf({path}, settings.pick);
        if (format && format->printChoices)
            format->printChoices(path);
        return inputError(failure);
    }
    const VolumeInfo& info = source.info;
    std::printf("%s\n  format           %s\n  sizes            %d x %d x %d\n"
                "  sample type      %s\n  channels         %d",
                shownPath(path).c_str(), info.format.c_str(), info.width, info.height, info.depth,
                describeSampleType(info).c_str(), info.channels);
    if (info.alphaChannel >= 0)
        std::printf(" (channel %d is alpha)", info.alphaChannel);
    std::printf("\n  spacing          %s\n  orientation      %s\n", spacingText(info).c_str(),
                describeOrientation(info).c_str());
    const std::string fileAxes = describeFileAxes(info.axes);
    if (!fileAxes.empty())
        std::printf("  file axes        %s\n", fileAxes.c_str());
    if (!info.note.empty())
        std::printf("  note             %s\n", info.note.c_str());
    printLevels(info, settings.pick.size);
    // The output's size comes before the pass over the samples, which may take a while.
    failure = planSizes(source, settings, path, &plan);
    if (plan.n > 0) {
        std::printf("  output           %s (N = %d), packing holds %s at once\n",
                    describeBytes(plan.outputBytes).c_str(), plan.n,
                    describeBytes(plan.memory).c_str());
        std::fflush(stdout);
    }
    if (failure.empty())
        failure = planSamples(source, settings, path, &plan);
    if (plan.rangeMeasured)
        std::printf("  value range      %g to %g\n", plan.rangeLo, plan.rangeHi);
    if (!failure.empty()) {
        std::printf("  pack             refuses it (the reason follows)\n");
        std::fflush(stdout); // before the reason, on a terminal that shows both
        return inputError(failure);
    }
    std::printf("  pack makes       %s\n", describePlan(info, plan).c_str());
    return 0;
}

// Checks every input; with report, prints info's lines about each (any input pack reads).
int checkFiles(const QCommandLineParser& parser, bool report) {
    PackSettings settings;
    const QString settingsFailure = report ? readPackSettings(parser, &settings) : QString();
    if (!settingsFailure.isEmpty())
        return usageError("info", settingsFailure);
    int result = 0;
    for (const QString& path : parser.positionalArguments()) {
        if (report && (!path.toLower().endsWith(".vol") || settings.pick.raw.given)) {
            result = std::max(result, reportInput(path, settings));
            continue;
        }
        FileHandle file;
        VolumeHeader header;
        const std::string failure = checkVolumeFile(QFile::encodeName(path).constData(), nullptr,
                                                    availableMemory(), &file, &header);
        if (!failure.empty())
            result = inputError(fileMessage(path, failure));
        if (report)
            printReport(path, file.get(), header, failure);
        else if (failure.empty())
            std::printf("%s\n", fileMessage(path, "ok; picture " + pictureVerdict(path, header) +
                                                      largeVolumeText(header))
                                    .c_str());
    }
    return result;
}
} // namespace

Command infoCommand() {
    return {"info",
            "info INPUT...",
            "a volume's header and the viewer's verdict; any input's samples",
            infoHelp,
            declarations(packSettingReaders()),
            1,
            -1,
            [](const QCommandLineParser& parser) { return checkFiles(parser, true); },
            InputKind::PackInputs};
}

Command checkCommand() {
    return {"check",
            "check FILE.vol...",
            "refuses what the viewer refuses, with the viewer's messages",
            checkHelp,
            {},
            1,
            -1,
            [](const QCommandLineParser& parser) { return checkFiles(parser, false); },
            InputKind::Volumes};
}
