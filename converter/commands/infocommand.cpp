// tessary-vol info and check: the viewer's verdict on .vol files, without a GL, and what any
// other input pack reads holds and would become.

#include "commands.h"

#include "dicom.h"
#include "hdf5volume.h"
#include "helpers.h"
#include "image.h"
#include "nifti.h"
#include "output.h"
#include "formattable.h"
#include "packplan.h"
#include "volumefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
const char infoHelp[] = R"(usage: tessary-vol info INPUT... [OPTIONS]
For a .vol file, prints its header fields, the sample bytes expected and found, whether the
viewer shows its reference picture (loaded as the viewer loads it), and whether the viewer loads
the volume. The GL's 3D texture limit is not checked (it needs the GL). Exits with 1 when the
viewer refuses a file.

For any other input pack reads (slice pictures, TIFF, NIfTI, DICOM, MetaImage, NRRD, .npy, raw
bytes), prints its format, sizes, sample type, channels (and which is alpha), spacing,
orientation, the size of the volume pack would write and the memory packing holds, the range of
its values (from a pass over the samples), and what pack would make of it: the window, the
channel map, any resampling and N. Exits with 1 when pack would refuse it.

options (as pack takes them, to see what it would do):
  --window LO,HI  --channels A,B,C  --spacing X,Y,Z  --size N  --crop  --pad
  --series K      the DICOM series, from 0 as info lists them
  --volume T      a volume of an input that holds several (time points, ...), from 0
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
        std::printf("  viewer           loads it (the GL's 3D texture limit unchecked)\n");
    else
        std::printf("  viewer           refuses it: %s\n", failure.c_str());
}

// A DICOM input of several series, or of several volumes, cannot be read until one is picked:
// the list to pick from, numbered as --series and --volume count.
void printDicomSeries(const QString& path) {
    std::vector<DicomSeriesSummary> series;
    if (!listDicomSeries(path, &series).empty())
        return;
    const bool volumes = std::any_of(series.begin(), series.end(),
                                     [](const DicomSeriesSummary& s) { return s.volumes > 1; });
    if (series.size() < 2 && !volumes)
        return;
    const char* pick = series.size() < 2 ? "pick a volume with --volume T"
                       : volumes         ? "pick one with --series K, and a volume with --volume T"
                                         : "pick one with --series K";
    std::printf("%s\n  format           DICOM, %zu series (%s)\n", qPrintable(path), series.size(),
                pick);
    for (std::size_t k = 0; k < series.size(); ++k) {
        const std::string count =
            series[k].volumes > 1 ? formatString(", %d volumes", series[k].volumes) : "";
        std::printf("  series %-9zu %d x %d x %d%s  %s  %s\n", k, series[k].width, series[k].height,
                    series[k].slices, count.c_str(), printableText(series[k].uid).c_str(),
                    printableText(series[k].description).c_str());
    }
}

// The spacing as far as the file gives it: "?" for an axis it leaves out.
std::string spacingText(const VolumeInfo& info) {
    if (info.spacingKnown)
        return formatString("%g, %g, %g", info.spacing[0], info.spacing[1], info.spacing[2]);
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
    return values + " (" + missing + " not in the file" + note + ")";
}

// A NIfTI file of several volumes (time points) cannot be read until one is picked: how many
// there are, numbered as --volume counts.
void printNiftiVolumes(const QString& path) {
    if (!path.endsWith(".nii", Qt::CaseInsensitive) &&
        !path.endsWith(".nii.gz", Qt::CaseInsensitive))
        return;
    const long long volumes = niftiVolumeCount(path);
    if (volumes > 1)
        std::printf("%s\n  format           NIfTI, %lld volumes (pick one with --volume T, 0 to "
                    "%lld)\n",
                    printableText(path.toStdString()).c_str(), volumes, volumes - 1);
}

// What info prints of an input pack reads: what the file holds, the range of its samples and
// what pack would make of it with the given settings. Returns the exit status.
int reportInput(const QString& path, PackSettings settings) {
    TypedSource source;
    PackPlan plan;
    settings.measureRange = true;
    std::string failure = openPackInput({path}, settings.pick, &source);
    if (!failure.empty()) {
        printDicomSeries(path);
        printNiftiVolumes(path);
        std::printf("%s", describeHdf5(path, settings.pick).c_str());
        return inputError(failure);
    }
    const VolumeInfo& info = source.info;
    std::printf("%s\n  format           %s\n  sizes            %d x %d x %d\n"
                "  sample type      %s\n  channels         %d",
                qPrintable(path), info.format.c_str(), info.width, info.height, info.depth,
                sampleTypeName(info.type), info.channels);
    if (info.alphaChannel >= 0)
        std::printf(" (channel %d is alpha)", info.alphaChannel);
    std::printf("\n  spacing          %s\n  orientation      %s\n", spacingText(info).c_str(),
                describeOrientation(info).c_str());
    std::printf("%s", describeHdf5(path, settings.pick).c_str());
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
        std::printf("  pack             refuses it: %s\n", failure.c_str());
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
        if (report && !path.toLower().endsWith(".vol")) {
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
            std::printf("%s\n",
                        fileMessage(path, "ok; picture " + pictureVerdict(path, header)).c_str());
    }
    return result;
}
} // namespace

Command infoCommand() {
    return {"info",
            "info INPUT...",
            "a volume's header and the viewer's verdict; any input's samples",
            infoHelp,
            packSettingOptions(),
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
